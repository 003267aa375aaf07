; The write-control program: runs on the H8S/2215 in serial boot mode and
; writes the flash in 128-byte units at the host's command.
;
; The boot ROM loads this program anywhere in on-chip RAM and jumps to its
; first byte, so it is position-independent: every branch and call is
; PC-relative, and its own data is reached from ER6, the load address found
; at run time. It has no clock frequency of its own: every wait is a loop
; count the host writes into the parameter block with 0xCA, computed for the
; clock the chip reports to 0xC5. docs/firmware.md describes the design.
;
; Registers kept for the whole run:
;   ER6  the program's load address (its first byte)
;   ER5  the serial channel in use (address of its SMR)
;   R4L  non-zero once a receive error was seen in the current command
;   ER7  the stack the boot ROM left
; A wait loop counts down R1; the routines below say what else they change.

	.h8300s
	.include "h8s2215.inc"

	.equ	IMAGE_SIZE, 932		; the length the host sends, padding included
	.equ	MAX_TRIES, 1000		; program pulses per unit before giving up
	.equ	ADDITIONAL_TRIES, 6	; tries that end with an additional pulse
	.equ	WDT_STOP, WDT_TCSR_KEY | TCSR_WT | TCSR_CKS_512
	.equ	WDT_RUN, WDT_TCSR_KEY | TCSR_WT | TCSR_TME | TCSR_CKS_512
	.equ	SSR_ERRORS, SSR_ORER | SSR_FER | SSR_PER
	.equ	TIMING_COUNT, 11	; words in the timing block (checked there)

; Replies
	.equ	REPLY_DONE, 0x80	; 0xC0, 0xC1 and 0xC5 succeeded
	.equ	REPLY_BAD_OPERAND, 0x90	; 0xC1 with an operand other than 0x03
	.equ	REPLY_FWE_LOW, 0x91	; 0xC1: the flash-write-enable pin is low
	.equ	REPLY_NO_CLOCK, 0x94	; 0xC1: a timing value has not been written
	.equ	REPLY_WRITTEN, 0x06	; block written and verified
	.equ	REPLY_BAD_BLOCK, 0x92	; bad address, or write mode not entered
	.equ	REPLY_BAD_SUM, 0x93	; checksum mismatch or receive error
	.equ	REPLY_FAILED, 0xB1	; then FAILED_CODE: a cell did not take
	.equ	FAILED_CODE, 0xD5

; Loads a timing value and waits that many loop turns.
	.macro	WAIT var
	mov.w	@(\var-_start:16,er6),r1
	bsr	delay:16
	.endm

; Points a register at one of the program's own labels.
	.macro	ADDRESS_OF reg, label
	mov.l	er6,\reg
	add.l	#\label-_start,\reg
	.endm

; Sets FLMCR1 to the given bits (through R0L).
	.macro	FLASH_CONTROL bits
	mov.b	#\bits,r0l
	mov.b	r0l,@FLMCR1:8
	.endm

	.section .text
	.global	_start
_start:
	bsr	here
here:	mov.l	@er7+,er6		; the address of `here`
	subs	#2,er6
	.if	here - _start - 2
	.err
	.endif

; The boot ROM left one serial channel transmitting and receiving: use it.
	mov.l	#SCI0_BASE,er5
find_channel:
	mov.b	@(SCI_SCR:16,er5),r0l
	and.b	#SCR_TE|SCR_RE,r0l
	cmp.b	#SCR_TE|SCR_RE,r0l
	beq	main_loop
	add.l	#SCI1_BASE-SCI0_BASE,er5
	cmp.l	#SCI2_BASE,er5
	bls	find_channel
	mov.l	#SCI1_BASE,er5		; none running: the boot mode's channel

; ---- Command loop ----
main_loop:
	sub.b	r4l,r4l
	bsr	getc:16
	or.b	r4l,r4l
	bne	main_loop		; a damaged command byte means nothing
	cmp.b	#0xC0,r0l
	beq	cmd_identify
	cmp.b	#0xC5,r0l
	beq	cmd_clock
	cmp.b	#0xCA,r0l
	beq	cmd_parameter
	cmp.b	#0xC1,r0l
	beq	cmd_write_mode
	cmp.b	#0xC3,r0l
	beq	cmd_block_at:16
	cmp.b	#0xC7,r0l
	beq	cmd_block_next:16
	bra	main_loop		; anything else is ignored

; 0xC0: the seven identification bytes, then 0x80.
cmd_identify:
	ADDRESS_OF er2, target_id
	mov.b	#7,r3l
1:	mov.b	@er2+,r0l
	bsr	putc:16
	dec.b	r3l
	bne	1b
reply_done:
	mov.b	#REPLY_DONE,r0l
reply:
	bsr	putc:16
	bra	main_loop:16

; 0xC5: BRR, the clock select of SMR, the factor 32 as two bytes, 0x80.
cmd_clock:
	mov.b	@(SCI_BRR:16,er5),r0l
	bsr	putc:16
	mov.b	@(SCI_SMR:16,er5),r0l
	and.b	#3,r0l
	bsr	putc:16
	sub.b	r0l,r0l
	bsr	putc:16
	mov.b	#0x20,r0l
	bsr	putc:16
	bra	reply_done:16

; 0xCA d0 d1 d2 d3 v: v goes to the program's byte at offset d0..d3 when that
; byte is in the parameter block; a write elsewhere, or one that arrived
; damaged, is dropped. Never answered.
cmd_parameter:
	bsr	get_long:16
	bsr	getc:16
	or.b	r4l,r4l
	bne	main_loop:16
	cmp.l	#parameters-_start,er2
	blo	main_loop:16
	cmp.l	#parameters_end-_start,er2
	bhs	main_loop:16
	add.l	er6,er2
	mov.b	r0l,@er2
	bra	main_loop:16

; 0xC1 0x03: enter write mode when the flash-write-enable pin is high and
; every timing value has been written.
cmd_write_mode:
	bsr	getc:16
	cmp.b	#3,r0l
	bne	bad_operand
	mov.b	@FLMCR1:8,r0l
	btst	#7,r0l			; FWE
	beq	fwe_low
	ADDRESS_OF er2, timings
	mov.b	#TIMING_COUNT,r3l
1:	mov.w	@er2+,r0
	beq	no_clock
	dec.b	r3l
	bne	1b
	mov.b	@(wdt_preset-_start:16,er6),r0l
	cmp.b	#0xFF,r0l
	beq	no_clock
	mov.b	#1,r0l
	mov.b	r0l,@(write_mode-_start:16,er6)
	bra	reply_done:16
no_clock:
	mov.b	#REPLY_NO_CLOCK,r0l
	bra	reply:16
bad_operand:
	mov.b	#REPLY_BAD_OPERAND,r0l
	bra	reply:16
fwe_low:
	mov.b	#REPLY_FWE_LOW,r0l
	bra	reply:16

; 0xC7 data[128] sum: the unit after the one before (the first after 0).
cmd_block_next:
	mov.l	@(last_unit-_start:16,er6),er2
	add.l	#PROGRAM_UNIT,er2
	bra	block_data

; 0xC3 a3 a2 a1 a0 data[128] sum: the unit at that address.
cmd_block_at:
	bsr	get_long:16
block_data:
	ADDRESS_OF er3, source_data
	mov.b	#PROGRAM_UNIT,r1h	; bytes to come
	sub.b	r1l,r1l			; their sum
1:	bsr	getc:16
	mov.b	r0l,@er3
	adds	#1,er3
	add.b	r0l,r1l
	dec.b	r1h
	bne	1b
	bsr	getc:16
	cmp.b	r0l,r1l
	bne	bad_sum
	or.b	r4l,r4l
	bne	bad_sum
	mov.b	@(write_mode-_start:16,er6),r0l
	beq	bad_block
	mov.b	r2l,r0l
	and.b	#PROGRAM_UNIT-1,r0l
	bne	bad_block
	cmp.l	#FLASH_START+FLASH_SIZE,er2
	bhs	bad_block
	mov.l	er2,@(last_unit-_start:16,er6)
	bsr	program_unit:16
	or.b	r2l,r2l
	bne	failed
	mov.b	#REPLY_WRITTEN,r0l
	bra	reply:16
failed:
	mov.b	#REPLY_FAILED,r0l
	bsr	putc:16
	mov.b	#FAILED_CODE,r0l
	bra	reply:16
bad_sum:
	mov.b	#REPLY_BAD_SUM,r0l
	bra	reply:16
bad_block:
	mov.b	#REPLY_BAD_BLOCK,r0l
	bra	reply:16

; ---- Serial line ----

; Receives four bytes, most significant first, into ER2. Changes R0, R3L.
get_long:
	mov.b	#4,r3l
1:	bsr	getc:16
	shll.l	#2,er2
	shll.l	#2,er2
	shll.l	#2,er2
	shll.l	#2,er2
	mov.b	r0l,r2l
	dec.b	r3l
	bne	1b
	rts

; Receives one byte into R0L. A byte that came with an overrun, framing or
; parity error sets R4L and is returned as it stands. Changes R0H.
getc:
	mov.b	@(SCI_SSR:16,er5),r0h
	mov.b	r0h,r0l
	and.b	#SSR_ERRORS,r0l
	bne	1f
	btst	#6,r0h			; RDRF
	beq	getc
	mov.b	@(SCI_RDR:16,er5),r0l
	mov.b	#~SSR_RDRF & 0xFE,r0h	; clear RDRF, leave the other flags
	mov.b	r0h,@(SCI_SSR:16,er5)
	rts
1:	mov.b	#1,r4l
	mov.b	@(SCI_RDR:16,er5),r0l
	mov.b	#~SSR_ERRORS & 0xFE,r0h	; clear the error flags
	mov.b	r0h,@(SCI_SSR:16,er5)
	rts

; Sends R0L. Changes R0H.
putc:
	mov.b	@(SCI_SSR:16,er5),r0h
	btst	#7,r0h			; TDRE
	beq	putc
	mov.b	r0l,@(SCI_TDR:16,er5)
	mov.b	#~SSR_TDRE & 0xFE,r0h
	mov.b	r0h,@(SCI_SSR:16,er5)
	rts

; Counts R1 down to zero: three states a turn.
delay:	dec.w	#1,r1
	bne	delay
	rts

; ---- Flash programming ----

; Programs the unit at last_unit with source_data: write the latches, pulse,
; verify; the bits that did not take are programmed again and, in the first
; tries, those that did take get an additional short pulse; at most
; MAX_TRIES tries. Returns R2L = 0 when the unit verified, non-zero when it
; failed. Changes ER0-ER4, E2.
program_unit:
	ADDRESS_OF er4, source_data	; the first data to program is the source
	mov.b	#PROGRAM_UNIT,r2h
1:	mov.b	@er4,r0l
	mov.b	r0l,@(reprogram_data-source_data:16,er4)
	adds	#1,er4
	dec.b	r2h
	bne	1b
	FLASH_CONTROL FLMCR1_SWE
	WAIT	t_swe
	sub.w	e2,e2			; tries so far
next_try:
	inc.w	#1,e2
	ADDRESS_OF er4, reprogram_data
	bsr	load_latches:16
	mov.w	@(t_pulse-_start:16,er6),r3
	cmp.w	#ADDITIONAL_TRIES,e2
	bls	1f
	mov.w	@(t_long_pulse-_start:16,er6),r3
1:	bsr	pulse:16

; Verify: each byte after a dummy write of H'FF to it. R2L collects bit 0
; "a bit still to program" and bit 1 "a bit that must stay 1 reads 0".
	FLASH_CONTROL FLMCR1_SWE|FLMCR1_PV
	WAIT	t_pv_set
	mov.l	@(last_unit-_start:16,er6),er3
	ADDRESS_OF er4, source_data
	mov.b	#PROGRAM_UNIT,r2h
	sub.b	r2l,r2l
verify_byte:
	mov.b	#0xFF,r0l
	mov.b	r0l,@er3		; dummy write
	WAIT	t_dummy
	mov.b	@er3,r0h		; verify data V
	adds	#1,er3
	mov.b	@er4,r0l		; source data D
	mov.b	r0h,r1l
	not.b	r1l
	and.b	r0l,r1l			; D AND NOT V: a 1 that reads 0
	beq	1f
	or.b	#2,r2l
1:	cmp.b	r0h,r0l
	beq	2f
	or.b	#1,r2l
2:	mov.b	@(reprogram_data-source_data:16,er4),r1l	; X, just programmed
	mov.b	r1l,r1h
	or.b	r0h,r1h			; additional data: X OR V
	mov.b	r1h,@(additional_data-source_data:16,er4)
	not.b	r0h
	or.b	r0h,r1l			; reprogram data: X OR NOT V
	mov.b	r1l,@(reprogram_data-source_data:16,er4)
	adds	#1,er4
	dec.b	r2h
	bne	verify_byte
	FLASH_CONTROL FLMCR1_SWE
	WAIT	t_pv_clear
	btst	#1,r2l
	bne	end_programming

	cmp.w	#ADDITIONAL_TRIES,e2
	bhi	1f
	ADDRESS_OF er4, additional_data
	bsr	load_latches:16
	mov.w	@(t_additional-_start:16,er6),r3
	bsr	pulse:16
1:	btst	#0,r2l
	beq	end_programming
	cmp.w	#MAX_TRIES,e2
	blo	next_try:16
end_programming:
	FLASH_CONTROL 0
	WAIT	t_swe_clear
	rts

; Writes the 128 bytes at ER4 to the latches of the unit at last_unit.
; Changes R0L, R2H, ER3, ER4.
load_latches:
	mov.l	@(last_unit-_start:16,er6),er3
	mov.b	#PROGRAM_UNIT,r2h
1:	mov.b	@er4+,r0l
	mov.b	r0l,@er3
	adds	#1,er3
	dec.b	r2h
	bne	1b
	rts

; One program pulse of R3 loop turns, with the watchdog guarding it from
; before PSU is set until after PSU is cleared. The pulse lasts from the
; write that sets P to the write that clears it: the setting write and the
; loop, three states a turn each (the host's count leaves one turn out).
; Changes R0, R1, R3.
pulse:
	mov.w	#WDT_STOP,r0
	mov.w	r0,@WDT_TCSR:16
	mov.b	@(wdt_preset-_start:16,er6),r0l
	mov.b	#WDT_TCNT_KEY >> 8,r0h
	mov.w	r0,@WDT_TCSR:16
	mov.w	#WDT_RUN,r0
	mov.w	r0,@WDT_TCSR:16
	FLASH_CONTROL FLMCR1_SWE|FLMCR1_PSU
	WAIT	t_psu_set
	mov.b	#FLMCR1_SWE|FLMCR1_PSU|FLMCR1_P,r0l
	mov.b	#FLMCR1_SWE|FLMCR1_PSU,r0h
	mov.b	r0l,@FLMCR1:8		; P set
1:	dec.w	#1,r3
	bne	1b
	mov.b	r0h,@FLMCR1:8		; P cleared
	WAIT	t_p_clear
	FLASH_CONTROL FLMCR1_SWE
	WAIT	t_psu_clear
	mov.w	#WDT_STOP,r0
	mov.w	r0,@WDT_TCSR:16
	rts

; ---- Data ----
target_id:
	.byte	0x5E, 0x17, 0xA9, 0x3B, 0xD4, 0x62, 0x8F

; The parameter block: the only bytes 0xCA may write. The timing values are
; loop turns of `delay` (words; a one-byte value goes to the low byte); zero
; means "not written yet" and keeps write mode shut.
	.balign	2
parameters:
timings:
t_swe:		.word	0	; SWE set -> latches written (1 us)
t_psu_set:	.word	0	; PSU set -> P set (50 us)
t_pulse:	.word	0	; program pulse of tries 1-6 (30 us)
t_long_pulse:	.word	0	; program pulse from try 7 on (200 us)
t_additional:	.word	0	; additional program pulse (10 us)
t_p_clear:	.word	0	; P cleared -> PSU cleared (5 us)
t_psu_clear:	.word	0	; PSU cleared -> PV set (5 us)
t_pv_set:	.word	0	; PV set -> dummy write (4 us)
t_dummy:	.word	0	; dummy write -> verify read (2 us)
t_pv_clear:	.word	0	; PV cleared -> next step (2 us)
t_swe_clear:	.word	0	; SWE cleared -> done (100 us)
	.if	(. - timings) / 2 - TIMING_COUNT
	.err
	.endif
wdt_preset:	.byte	0xFF	; watchdog counter start (~6.5 ms); H'FF: not written
parameters_end:

write_mode:	.byte	0	; non-zero once 0xC1 0x03 was accepted
	.balign	2
last_unit:	.long	0	; address of the last unit written (0xC7 goes after it)

	.org	IMAGE_SIZE, 0xFF
image_end:

; Work space in the RAM after the program (not sent by the host).
	.equ	source_data, image_end
	.equ	reprogram_data, source_data + PROGRAM_UNIT
	.equ	additional_data, reprogram_data + PROGRAM_UNIT
