; every directive, forward references and an EQU chain
        org  100H
first:  jp   last
count   equ  size/2
size:   equ  end_data-data
data:   db   "text",0DH,0AH,'$',-1,255
        defb 1,2
        dm   "more"
        defm 'x'
        dw   data,-1,65535,$
        defw count
        ds   4
        defs 3,0AAH
end_data:
        include "inc.asm"
        org  0
last:   ld   hl,inc_label
        halt
        end
        this is never read
