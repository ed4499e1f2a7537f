| Asks the operating system what tunes ask it. When every answer is right, a Dosound script
| starts a tone on voice A; the first wrong answer sounds voice B instead.
	.include "head.inc"
	sndh_head "os", "TC50\0"
init:	movea.l	0x5a0.w,a0		| cookie jar: _SND must say PSG + DMA
1:	move.l	(a0),d0
	beq	fail
	cmpi.l	#0x5f534e44,d0
	beq.s	2f
	addq.l	#8,a0
	bra.s	1b
2:	cmpi.l	#3,4(a0)
	bne	fail
	btst	#1,0xffff820a.w		| 50 Hz
	beq	fail
	move.l	#1,-(sp)		| Super(1): supervisor already
	move.w	#0x20,-(sp)
	trap	#1
	addq.l	#6,sp
	cmpi.l	#-1,d0
	bne	fail
	move.w	#0x30,-(sp)		| Sversion
	trap	#1
	addq.l	#2,sp
	tst.w	d0
	beq	fail
	pea	marker(pc)		| Setexc: install, then read back
	move.w	#0x45,-(sp)
	move.w	#5,-(sp)
	trap	#13
	addq.l	#8,sp
	move.l	#-1,-(sp)
	move.w	#0x45,-(sp)
	move.w	#5,-(sp)
	trap	#13
	addq.l	#8,sp
	lea	marker(pc),a0
	cmpa.l	d0,a0
	bne	fail
	moveq	#0,d7			| Supexec runs the routine and comes back
	pea	setd7(pc)
	move.w	#38,-(sp)
	trap	#14
	addq.l	#6,sp
	cmpi.w	#0x1234,d7
	bne	fail
	move.w	#0,-(sp)		| Giaccess: write register 9, read it back
	move.w	#0x89,-(sp)
	move.w	#28,-(sp)
	trap	#14
	addq.l	#6,sp
	move.w	#0,-(sp)
	move.w	#9,-(sp)
	move.w	#28,-(sp)
	trap	#14
	addq.l	#6,sp
	tst.b	d0
	bne	fail
	move.w	#99,-(sp)		| an unknown call returns
	trap	#14
	addq.l	#2,sp
	pea	script(pc)		| Dosound
	move.w	#32,-(sp)
	trap	#14
	addq.l	#6,sp
exit:	rts
fail:	lea	0xffff8800.w,a0
	move.b	#7,(a0)
	move.b	#0x3d,2(a0)
	move.b	#9,(a0)
	move.b	#15,2(a0)
	rts
play:	rts
setd7:	move.w	#0x1234,d7
	rts
marker:	rte
script:	.byte	0,0x1c, 1,1, 7,0x3e, 8,15, 0x82,0
	.even
