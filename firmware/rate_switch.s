; The rate switch: a 128-byte unit the write-control program runs with 0xCB
; (write_control.s, `cmd_run`), which moves the chip's serial line to a new
; bit rate and back again when the host does not follow.
;
; The writer fills in the new setting (offset 2: SMR, i.e. the clock select
; with the 8N1 format bits clear; offset 3: BRR) before it sends the unit.
; Then:
;   SMR > 3:  0x92, nothing changes;
;   else:     0x06 at the old rate; once its stop bit has left (TEND), the
;             SCI takes the new setting the way its chapter asks (TE and RE
;             cleared, SMR and BRR written, a bit time, TE and RE set) and
;             waits for the probe 0x55 at the new rate for about 200 ms;
;             0x55 without a receive error: 0xAA at the new rate;
;             anything else, an error or no byte in time: the old SMR and
;             BRR back the same way, nothing sent.
; Either way it goes back to the command loop.
;
; Entered with ER3 = its own address (the copy the program runs), ER5 = the
; channel's SSR and ER6 = the program's `base`; the program's routines and
; parameters are reached from ER6 through the offsets the build derives from
; its symbols (write_control_symbols.inc). Position-independent like the
; program. All waits come from the host's timing values: `t_bit` (one bit
; time at 9600 bit/s) counts the settle time and `poll`'s rounds the probe
; window.

	.h8300s
	.include "h8s2215.inc"
	.include "flash_procedure.inc"
	.include "write_control_symbols.inc"

	.equ	UNIT_SIZE, 128
	.equ	PROBE, 0x55
	.equ	PROBE_ANSWER, 0xAA
	.equ	REPLY_ACCEPTED, 0x06
	.equ	REPLY_REFUSED, 0x92
	.equ	MAX_SELECT, 3
; A round of `poll` is t_bit turns of its loop, nine states a turn on this
; core (a bit time at 9600 bit/s is three states times t_bit), so three bit
; times, 312 us: 640 rounds are 200 ms.
	.equ	PROBE_ROUNDS, 640

	.section .text
	.global	_start
_start:
	bra	start
new_setting:
	.byte	0			; SMR: the clock select (0-3)
	.byte	0			; BRR
start:
	mov.l	er6,er4
	add.l	#main_loop-base,er4	; where every way out goes
	mov.w	@(new_setting-_start:16,er3),r2	; R2H SMR, R2L BRR
	cmp.b	#MAX_SELECT,r2h
	bls	1f
	mov.b	#REPLY_REFUSED,r0l
	bra	answer
1:	mov.w	@(SCI_SMR-SCI_SSR:16,er5),e3	; the old SMR and BRR
	mov.b	#REPLY_ACCEPTED,r0l
	bsr	send
	bsr	set_rate

; The probe: poll returns Z set when the window passed without a byte, else
; R0H holds SSR's RDRF and error bits.
	mov.w	#PROBE_ROUNDS,r3
	mov.l	er6,er1
	add.l	#poll-base,er1
	jsr	@er1
	beq	back
	mov.b	@(SCI_RDR-SCI_SSR:16,er5),r0l
	mov.b	#SSR_CLEAR_RX,r1l
	mov.b	r1l,@er5
	cmp.b	#SSR_RDRF,r0h
	bne	back
	cmp.b	#PROBE,r0l
	bne	back
	mov.b	#PROBE_ANSWER,r0l
answer:
	bsr	send
	jmp	@er4

back:	mov.w	e3,r2
	bsr	set_rate
	jmp	@er4

; Sends R0L on an idle line and waits until its stop bit has left.
send:
	mov.b	r0l,@(SCI_TDR-SCI_SSR:16,er5)
	bclr	#7,@er5			; TDRE, read as 1 by this instruction
1:	btst	#2,@er5			; TEND
	beq	1b
	rts

; Gives the SCI SMR = R2H and BRR = R2L: TE and RE cleared first, set again
; (SCR as it was) one bit time at 9600 bit/s later, the slowest rate the
; line has. Changes R0, R1.
set_rate:
	mov.b	@(SCI_SCR-SCI_SSR:16,er5),r0h
	sub.b	r0l,r0l
	mov.b	r0l,@(SCI_SCR-SCI_SSR:16,er5)
	mov.w	r2,@(SCI_SMR-SCI_SSR:16,er5)
	mov.w	@(t_bit-base:16,er6),r1
1:	dec.w	#1,r1
	bne	1b
	mov.b	r0h,@(SCI_SCR-SCI_SSR:16,er5)
	rts

	.org	UNIT_SIZE, 0xFF
