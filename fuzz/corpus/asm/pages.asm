; pages.asm - a Korvel example that uses every instruction page.
;
; Copies a four-byte table with LDIR (ED page), walks the copy with IX adding it up (DD
; page), stores the sum through IY (FD page), tests bits of the table and the sum (DD CB and
; FD CB pages), rotates the stored sum in place and shifts A (CB page), then halts.
;
; The sum of 01H 02H 03H 84H is 8AH: the byte at 8010H is 8AH before the RRC and 45H after
; it; A ends as 15H (8AH shifted left is 14H with Carry 1, then bit 0 set).
;
; Listing (address, bytes, source); pages.bin holds 68 bytes, zeros between 0034H and 003FH:
;
; 0000  31 00 F0        start:  ld   sp,0F000H
; 0003  21 40 00                ld   hl,table
; 0006  11 00 80                ld   de,8000H       ; the copy
; 0009  01 04 00                ld   bc,4
; 000C  ED B0                   ldir                ; one iteration per instruction step
; 000E  DD 21 00 80             ld   ix,8000H
; 0012  FD 21 10 80             ld   iy,8010H
; 0016  06 04                   ld   b,4
; 0018  AF                      xor  a
; 0019  DD 86 00        sum:    add  a,(ix+0)
; 001C  DD 23                   inc  ix
; 001E  10 F9                   djnz sum            ; F9H = -7: back from 0020H to 0019H
; 0020  FD 77 00                ld   (iy+0),a
; 0023  FD CB 00 46             bit  0,(iy+0)       ; 8AH: bit 0 is 0, Zero 1
; 0027  DD CB FF 7E             bit  7,(ix-1)       ; 84H at 8003H: bit 7 is 1, Zero 0
; 002B  FD CB 00 0E             rrc  (iy+0)         ; 8AH -> 45H, Carry 0
; 002F  CB 27                   sla  a              ; 8AH -> 14H, Carry 1
; 0031  CB C7                   set  0,a            ; 15H
; 0033  76                      halt
; 0040  01 02 03 84     table:  db   01H,02H,03H,84H

        org  0000H

start:  ld   sp,0F000H
        ld   hl,table
        ld   de,8000H
        ld   bc,4
        ldir
        ld   ix,8000H
        ld   iy,8010H
        ld   b,4
        xor  a
sum:    add  a,(ix+0)
        inc  ix
        djnz sum
        ld   (iy+0),a
        bit  0,(iy+0)
        bit  7,(ix-1)
        rrc  (iy+0)
        sla  a
        set  0,a
        halt

        ds   0040H - $       ; zeros up to the table
table:  db   01H,02H,03H,84H
