 foo a
 ldri
 loop djnz loop
 ld (bc),b
 ld (ix+1),(hl)
 ld a,missing
 ld a,FFH
x: nop
x: nop
b: nop
 ld a,256
 ld hl,65536
 ld a,(ix+128)
 jr $+130
 im 3
 rst 9
 bit 8,a
 db "abc
 ld a,(1+2
 ld a,1+2)
 ld a,
 ld a,1/0
 ld a,1<<32
 ld a,b+1
 ld a,(hl+1)
 ld a,12AB
u equ v
v equ u
 equ 5
 sll b
 ld a,ixh
 in f,(c)
 out (c),0
 set 1,(iy-2),a
 include "loop.asm"
 include "none.asm"
 org later
later: org 0FFFFH
 ld a,1
 org 0
 nop
