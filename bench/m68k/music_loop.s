| A music-routine shaped loop for the 68000 benchmark: three voices read notes from a
| pattern, look up periods and vibrato, write sound-chip registers through the device space
| at $FF8800 (byte writes and MOVEP), fade volumes, and keep a little state in RAM.
| Assemble: m68k-linux-gnu-as -m68000 music_loop.s -o m.o && m68k-linux-gnu-objcopy -O binary m.o m.bin
        .text
start:
        lea     stack_top(%pc),%sp
frame:
        movem.l %d0-%d7/%a0-%a5,-(%sp)
        lea     0xff8800,%a0
        lea     voices(%pc),%a1
        moveq   #2,%d7
voice:
        move.w  (%a1),%d0
        addq.w  #1,(%a1)
        and.w   #63,%d0
        lea     pattern(%pc),%a2
        move.b  0(%a2,%d0.w),%d1
        ext.w   %d1
        add.w   %d1,%d1
        lea     periods(%pc),%a3
        move.w  0(%a3,%d1.w),%d2
        move.w  2(%a1),%d3
        addq.w  #3,2(%a1)
        and.w   #31,%d3
        lea     sine(%pc),%a4
        move.b  0(%a4,%d3.w),%d4
        ext.w   %d4
        asr.w   #2,%d4
        add.w   %d4,%d2
        move.w  %d7,%d5
        add.w   %d5,%d5
        move.b  %d5,(%a0)
        move.b  %d2,2(%a0)
        addq.b  #1,%d5
        move.b  %d5,(%a0)
        lsr.w   #8,%d2
        move.b  %d2,2(%a0)
        move.w  4(%a1),%d6
        subq.w  #1,%d6
        bpl.s   vol_ok
        moveq   #15,%d6
vol_ok:
        move.w  %d6,4(%a1)
        mulu    #0x55,%d6
        lsr.l   #6,%d6
        moveq   #8,%d5
        add.w   %d7,%d5
        move.b  %d5,(%a0)
        move.b  %d6,2(%a0)
        lea     6(%a1),%a1
        dbra    %d7,voice
        move.l  #0x07380600,%d0
        move.w  tick(%pc),%d1
        moveq   #7,%d2
        and.w   %d1,%d2
        rol.l   %d2,%d0
        ror.l   %d2,%d0
        movep.l %d0,0(%a0)
        lea     tick(%pc),%a5
        addq.w  #1,(%a5)
        movem.l (%sp)+,%d0-%d7/%a0-%a5
        addq.l  #1,%d0
        bra     frame

        .even
tick:   .word   0
voices: .word   0,0,15, 5,7,9, 11,13,3
pattern:
        .byte   0,2,4,5,7,9,11,12,11,9,7,5,4,2,0,2
        .byte   4,4,7,7,9,9,7,5,5,4,4,2,2,0,0,12
        .byte   0,3,7,10,12,10,7,3,0,3,7,10,12,10,7,3
        .byte   5,5,5,5,7,7,7,7,9,9,9,9,11,11,11,11
        .even
periods:
        .word   3822,3608,3405,3214,3034,2863,2703,2551,2408,2273,2145,2025,1911
sine:
        .byte   0,25,49,71,90,106,117,125,127,125,117,106,90,71,49,25
        .byte   0,-25,-49,-71,-90,-106,-117,-125,-127,-125,-117,-106,-90,-71,-49,-25
        .even
        .space  256
stack_top:
