; hello.asm - a small Korvel example program.
;
; Sends the letters of "HELLO" one by one to port 01H through a subroutine, then reads a
; byte from port 02H, adds one to it, sends the result to port 03H and halts.
;
; With the input byte 41H the out.log file receives:
;   Data 48H sent to port 01H
;   Data 45H sent to port 01H
;   Data 4CH sent to port 01H
;   Data 4CH sent to port 01H
;   Data 4FH sent to port 01H
;   Data 42H sent to port 03H
;
; Listing (address, bytes, source); hello.bin holds exactly these 29 bytes:
;
; 0000  31 00 F0        start:  ld   sp,0F000H      ; stack below the top of memory
; 0003  21 18 00                ld   hl,message     ; HL walks through the text
; 0006  06 05                   ld   b,5            ; B counts the letters
; 0008  7E              next:   ld   a,(hl)
; 0009  CD 15 00                call send
; 000C  23                      inc  hl
; 000D  10 F9                   djnz next           ; F9H = -7: back from 000FH to 0008H
; 000F  DB 02                   in   a,(02H)        ; the user types the byte
; 0011  3C                      inc  a
; 0012  D3 03                   out  (03H),a
; 0014  76                      halt
; 0015  D3 01           send:   out  (01H),a        ; one letter to port 01H
; 0017  C9                      ret
; 0018  48 45 4C 4C 4F  message: db  "HELLO"

        org  0000H

start:  ld   sp,0F000H
        ld   hl,message
        ld   b,5
next:   ld   a,(hl)
        call send
        inc  hl
        djnz next
        in   a,(02H)
        inc  a
        out  (03H),a
        halt

send:   out  (01H),a
        ret

message:
        db   "HELLO"
