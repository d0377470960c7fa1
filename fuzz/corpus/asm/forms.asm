 ld a,(ix+5)
 ld (iy-1),b
 ld (ix+127),0C5H
 add ix,sp
 add iy,iy
 ex (sp),ix
 jp (iy)
 rlc (ix-128)
 bit 7,(iy+0)
 res 0,(ix)
 set 3,(iy+2)
 ex af,af'
 exx
 in a,(0FEH)
 in b,(c)
 out (c),a
 out (1),a
 im 0
 im 1
 im 2
 rst 38H
 ld a,i
 ld r,a
 ld (1234H),sp
 ld de,(1234H)
 adc hl,bc
 sbc hl,sp
 ldir
 cpdr
 otir
 indr
 neg
 rrd
 rld
 retn
 reti
 daa
 di
 ei
 add b
 sub a,c
 cp a,5
 and a,(hl)
 xor a
 call nz,0
 ret pe
 jp m,$
 jr nc,$
 push af
 pop iy
