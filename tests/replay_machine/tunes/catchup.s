| Catch-up: a software mixer's pattern. Timer A (prescaler 4, data 38: 16168 Hz) counts ticks;
| each play call does about 280 cycles of work per tick since the previous call, and the first
| call has a backlog of 200 ticks, so it runs for almost two play periods. As on a timer-driven
| player, the call that fell due meanwhile runs as soon as the long one returns and has less to
| do; the calls settle back onto their period instead of staying two periods apart.
	.include "head.inc"
	sndh_head "catchup", "TC200\0"
init:	lea	ticks(pc),a0
	move.b	#1,2(a0)		| the first call has a backlog of 200 ticks
	lea	timer_a(pc),a0
	move.l	a0,0x134.w
	lea	0xfffffa01.w,a0
	clr.b	0x18(a0)		| TACR: stop timer A
	move.b	#38,0x1e(a0)		| TADR
	move.b	#1,0x18(a0)		| prescaler 4
	bset	#5,6(a0)		| IERA
	bset	#5,0x12(a0)		| IMRA
	rts
exit:	clr.b	0xfffffa19.w
	rts
play:	movem.l	d0-d1/a0,-(sp)
	lea	ticks(pc),a0
	move.b	(a0),d0
	move.b	1(a0),d1
	move.b	d0,1(a0)
	sub.b	d1,d0			| ticks since the last call, modulo 256
	andi.w	#0xff,d0
	tst.b	2(a0)
	beq.s	3f
	clr.b	2(a0)
	move.w	#200,d0
3:	tst.w	d0
	beq.s	2f
	subq.w	#1,d0
1:	moveq	#25,d1			| about 280 cycles per tick
0:	dbf	d1,0b
	dbf	d0,1b
2:	movem.l	(sp)+,d0-d1/a0
	rts
timer_a:
	move.l	a0,-(sp)
	lea	ticks(pc),a0
	addq.b	#1,(a0)
	move.l	(sp)+,a0
	bclr	#5,0xfffffa0f.w		| end of interrupt: timer A in service
	rte
ticks:	.byte	0, 0, 0			| ticks, ticks at the last call, first call
	.even
