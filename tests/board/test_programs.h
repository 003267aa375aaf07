// The H8S test programs the execution tests run; the disassembler test
// compares our disassembly of every one of them with objdump's.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vantor::board::test {

inline const char* const kMoveModes = R"(
	mov.l	#data,er1
	mov.b	@er1,r0l
	mov.w	@(2:16,er1),r2
	mov.l	@(4:32,er1),er3
	mov.l	#data+8,er4
	mov.w	@er4+,r5
	mov.b	r0l,@-er4
	mov.b	@data+9:16,r6l
	mov.w	r2,@data+12:32
	mov.b	#0x80,r6h
	sleep
	.align	1
data:	.byte	0x11,0x00,0x22,0x33,0x44,0x55,0x66,0x77,0x88,0x99,0xaa,0xbb,0,0,0,0
)";

// Stores in one addressing mode read back through another, every size.
inline const char* const kMoveRoundTrips = R"(
	mov.l	#buf,er1
	mov.l	#0x11223344,er2
	mov.l	er2,@(0x10:32,er1)
	mov.l	@(0x10:16,er1),er3
	mov.w	e2,@buf+0x20:32
	mov.w	@buf+0x20:16,r4
	mov.b	r2l,@(0x30:32,er1)
	mov.b	@(0x30:16,er1),r5l
	mov.l	er2,@buf+0x40:16
	mov.l	@buf+0x40:32,er6
	mov.l	#buf+0x50,er0
	mov.l	er3,@-er0
	mov.l	@er0+,er5
	mov.w	r2,@er1
	mov.w	@er1,e4
	mov.b	@(0x13:16,er1),r4h
	sleep
	.align	1
buf:	.space	0x60
)";

// LDM/STM of two and three registers, EEPMOV.W, control registers with
// 32-bit displacements and absolute addresses.
inline const char* const kBlockAndControl = R"(
	mov.l	#0xaaaa0001,er4
	mov.l	#0xaaaa0002,er5
	mov.l	#0xaaaa0003,er6
	stm.l	er4-er6,@-sp
	stm.l	er2-er3,@-sp
	ldm.l	@sp+,er0-er1
	ldm.l	@sp+,er4-er6
	mov.l	#src,er5
	mov.l	#dst,er6
	mov.w	#3,r4
	eepmov.w
	mov.l	#dst,er1
	ldc	#0x8a,ccr
	stc	ccr,@(0x10:32,er1)
	ldc	#0x80,ccr
	ldc	@(0x10:32,er1),ccr
	stc	ccr,r2l
	ldc	#0x03,exr
	stc	exr,@dst+0x20:16
	ldc	#0x00,exr
	ldc	@dst+0x20:32,exr
	stc	exr,r2h
	sleep
	.align	1
src:	.byte	0xb1,0xb2,0xb3,0xb4
dst:	.space	0x30
)";

inline const char* const kMoveFlags = R"(
	mov.b	#0x80,r1l
	sleep
)";

inline const char* const kStack = R"(
	mov.l	#0x11111111,er0
	mov.l	#0x22222222,er1
	mov.l	#0x33333333,er2
	mov.l	#0x44444444,er3
	stm.l	er0-er3,@-sp
	mov.l	@sp,er4
	sub.l	er0,er0
	sub.l	er1,er1
	sub.l	er2,er2
	sub.l	er3,er3
	ldm.l	@sp+,er0-er3
	mov.w	#0xbeef,r5
	push.w	r5
	pop.w	e6
	push.l	er2
	pop.l	er5
	sleep
)";

inline const char* const kEepmov = R"(
	mov.l	#src,er5
	mov.l	#dst,er6
	mov.b	#3,r4l
	eepmov.b
	sleep
	.align	1
src:	.byte	0xa1,0xa2,0xa3,0xa4
dst:	.byte	0,0,0,0
)";

inline const char* const kAddFlags = R"(
	mov.b	#0x7f,r0l
	add.b	#1,r0l
	stc	ccr,r1l
	mov.b	#0xff,r0h
	mov.b	#1,r2l
	add.b	r2l,r0h
	stc	ccr,r1h
	mov.w	#0x0800,r3
	add.w	#0x0800,r3
	stc	ccr,r2h
	mov.l	#0x80000000,er4
	mov.l	#0x80000000,er5
	add.l	er4,er5
	stc	ccr,r6l
	mov.l	#0x0fffffff,er4
	add.l	#1,er4
	stc	ccr,r6h
	sleep
)";

inline const char* const kAddxSubx = R"(
	sub.b	r0l,r0l
	ldc	#0x85,ccr
	addx	#0,r0l
	stc	ccr,r1l
	sub.b	r0h,r0h
	ldc	#0x80,ccr
	addx	#0,r0h
	stc	ccr,r1h
	sub.b	r2l,r2l
	ldc	#0x84,ccr
	addx	r2l,r2l
	stc	ccr,r2h
	mov.b	#1,r3l
	ldc	#0x85,ccr
	subx	#1,r3l
	stc	ccr,r3h
	mov.b	#1,r4l
	ldc	#0x84,ccr
	subx	#1,r4l
	stc	ccr,r4h
	sleep
)";

inline const char* const kSubCmpNeg = R"(
	mov.w	#0x8000,r2
	mov.w	#1,r1
	cmp.w	r1,r2
	stc	ccr,r0l
	sub.l	er3,er3
	sub.l	#1,er3
	stc	ccr,r0h
	mov.b	#0x80,r4l
	neg.b	r4l
	stc	ccr,r4h
	sub.w	e5,e5
	neg.w	e5
	stc	ccr,r5l
	mov.b	#0x10,r6l
	cmp.b	#0x10,r6l
	stc	ccr,r6h
	sleep
)";

inline const char* const kIncDec = R"(
	mov.b	#0x7f,r0l
	ldc	#0x81,ccr
	inc	r0l
	stc	ccr,r0h
	mov.w	#0x8000,r1
	dec.w	#1,r1
	stc	ccr,r2l
	mov.l	#1,er3
	dec.l	#2,er3
	stc	ccr,r2h
	mov.l	#0xfffffffe,er4
	ldc	#0x8f,ccr
	adds	#4,er4
	subs	#1,er5
	stc	ccr,r6l
	sleep
)";

inline const char* const kDecimal = R"(
	mov.b	#0x15,r0l
	add.b	#0x27,r0l
	daa	r0l
	stc	ccr,r0h
	mov.b	#0x99,r1l
	add.b	#0x01,r1l
	daa	r1l
	stc	ccr,r1h
	mov.b	#0x42,r2l
	mov.b	#0x15,r3l
	sub.b	r3l,r2l
	das	r2l
	stc	ccr,r2h
	sleep
)";

inline const char* const kMultiply = R"(
	mov.w	#0x12ff,r0
	mov.b	#0xff,r1l
	mulxu.b	r1l,r0
	mov.w	#0x00ff,r2
	mov.b	#2,r3l
	mulxs.b	r3l,r2
	stc	ccr,r3h
	mov.l	#0x1234ffff,er4
	mov.w	#0xffff,r5
	mulxu.w	r5,er4
	mov.l	#0x0000ffff,er6
	mov.w	#2,e5
	mulxs.w	e5,er6
	sleep
)";

inline const char* const kDivide = R"(
	mov.w	#0x0107,r0
	mov.b	#0x10,r1l
	divxu.b	r1l,r0
	mov.l	#100000,er2
	mov.w	#300,r1
	divxu.w	r1,er2
	mov.w	#-7,r3
	mov.b	#2,r1h
	divxs.b	r1h,r3
	stc	ccr,r4l
	mov.l	#-100000,er5
	mov.w	#300,r6
	divxs.w	r6,er5
	stc	ccr,r4h
	sleep
)";

inline const char* const kDivideByZero = R"(
	mov.w	#0x1234,r0
	sub.b	r1l,r1l
	ldc	#0x80,ccr
	divxu.b	r1l,r0
	sleep
)";

inline const char* const kExtendTas = R"(
	mov.w	#0x12f0,r0
	extu.w	r0
	mov.w	#0x00f0,r1
	exts.w	r1
	stc	ccr,r6l
	mov.l	#0x00008000,er2
	exts.l	er2
	mov.l	#0xffff8001,er3
	extu.l	er3
	mov.l	#flag,er4
	tas	@er4
	stc	ccr,r6h
	mov.b	@er4,r5l
	sleep
	.align	1
flag:	.byte	0,0
)";

inline const char* const kLogic = R"(
	mov.b	#0xf3,r0l
	ldc	#0x81,ccr
	and.b	#0x0f,r0l
	stc	ccr,r0h
	mov.w	#0x00f0,r1
	mov.w	#0x8001,r2
	or.w	r2,r1
	stc	ccr,r3l
	mov.l	#0x12345678,er4
	xor.l	#0x12345678,er4
	stc	ccr,r3h
	mov.l	#0x0f0f0f0f,er5
	not.l	er5
	mov.l	#0xffff0000,er6
	and.l	er5,er6
	sleep
)";

inline const char* const kShifts = R"(
	mov.b	#0x40,r0l
	shal.b	r0l
	stc	ccr,r0h
	mov.b	#0x20,r1l
	shal.b	#2,r1l
	stc	ccr,r1h
	mov.w	#0xc000,r2
	shal.w	#2,r2
	stc	ccr,r6l
	mov.b	#0x81,r3l
	shar.b	r3l
	stc	ccr,r3h
	mov.l	#3,er4
	shlr.l	#2,er4
	stc	ccr,r6h
	mov.w	#0x8001,r5
	shll.w	r5
	stc	ccr,r4l
	sleep
)";

inline const char* const kRotates = R"(
	mov.b	#0x81,r0l
	rotl.b	r0l
	stc	ccr,r0h
	mov.w	#1,r1
	rotr.w	#2,r1
	stc	ccr,r2l
	mov.b	#0x80,r3l
	ldc	#0x80,ccr
	rotxl.b	r3l
	stc	ccr,r3h
	mov.l	#1,er4
	ldc	#0x81,ccr
	rotxr.l	#2,er4
	stc	ccr,r2h
	sleep
)";

inline const char* const kBitRegister = R"(
	sub.b	r0l,r0l
	bset	#7,r0l
	mov.b	r0l,r6l
	mov.b	#7,r1l
	bclr	r1l,r0l
	mov.b	r0l,r6h
	mov.b	#0x80,r0l
	bld	#7,r0l
	band	#0,r0l
	bor	#7,r0l
	bxor	#7,r0l
	bixor	#0,r0l
	biand	#7,r0l
	bior	#0,r0l
	bild	#7,r0l
	bist	#1,r0l
	bst	#2,r0l
	bnot	#3,r0l
	btst	#3,r0l
	stc	ccr,r2l
	btst	#4,r0l
	stc	ccr,r2h
	sleep
)";

inline const char* const kBitMemory = R"(
	mov.l	#cell,er1
	bset	#0,@er1
	bnot	#1,@er1
	bclr	#7,@er1
	btst	#1,@er1
	stc	ccr,r0l
	bset	#3,@0xffff10:8
	btst	#3,@0xffff10:8
	stc	ccr,r0h
	bset	#5,@cell:16
	bset	#6,@cell:32
	bld	#6,@cell:32
	bist	#0,@0xffff11:8
	mov.b	@er1,r2l
	sleep
	.align	1
cell:	.byte	0x80,0
)";

inline const char* const kCalls = R"(
	mov.l	#sub2,er1
	bsr	sub1
	jsr	@er1
	jsr	@@0x20:8
	bsr	sub1:16
	jmp	@done:24
	mov.b	#0xee,r6l
done:	sleep
sub1:	inc	r0l
	rts
sub2:	inc	r0h
	rts
sub3:	inc	r2l
	rts
)";

inline const char* const kCountLoop = R"(
	mov.w	#1000,r1
1:	dec.w	#1,r1
	bne	1b
	sleep
)";

inline const char* const kPeripheralTiming = R"(
	mov.b	@0xfffe10:16,r0l
	mov.w	r0,@0xfffe10:16
	mov.l	er0,@0xfffe10:16
	mov.b	@0xffff20:8,r0h
	mov.b	@0x20:16,r1l
	sleep
)";

inline const char* const kControlRegisters = R"(
	ldc	#0x12,exr
	stc	exr,r0l
	ldc	#0x0f,ccr
	orc	#0x80,ccr
	stc	ccr,r0h
	andc	#0xf0,ccr
	stc	ccr,r1l
	xorc	#0x11,ccr
	stc	ccr,r1h
	mov.l	#word,er2
	ldc	@er2,ccr
	stc	ccr,r3l
	orc	#0x05,exr
	stc	exr,r3h
	stc	exr,@-er2
	mov.w	@er2,r4
	ldc	r0h,ccr
	sleep
	.align	1
	.word	0
word:	.word	0x8a00
)";

inline const char* const kTrap = R"(
	ldc	#0x05,ccr
	trapa	#2
	stc	ccr,r1l
	sleep
handler:
	stc	ccr,r1h
	mov.b	#0x55,r0l
	mov.l	@sp,er5
	rte
)";

inline const char* const kInterrupt = R"(
	nop
	nop
	andc	#0x7f,ccr
	nop
	nop
	sleep
handler:
	stc	ccr,r0l
	sleep
)";

// Every Bcc condition under seven flag settings (none, C, Z, N, V, N+V,
// Z+N): byte i of `results` gets bit k set when condition i branched under
// setting k. `wide` uses the 16-bit displacement form.
inline std::string ConditionsProgram(bool wide) {
  static const char* const kNames[16] = {"bra", "brn", "bhi", "bls", "bcc", "bcs", "bne", "beq",
                                         "bvc", "bvs", "bpl", "bmi", "bge", "blt", "bgt", "ble"};
  static const char* const kFlags[7] = {"0x00", "0x01", "0x04", "0x08", "0x02", "0x0a", "0x0c"};
  // Built with snprintf: GCC 12 warns wrongly about operator+ on literals.
  std::string s = "\tmov.l\t#results,er6\n";
  char line[160];
  for (int i = 0; i < 16; ++i) {
    s += "\tsub.b\tr0l,r0l\n";
    for (int k = 0; k < 7; ++k) {
      std::snprintf(
          line, sizeof line,
          "\tldc\t#%s,ccr\n\t%s\tt%d_%d%s\n\tbra\tn%d_%d\nt%d_%d:\tbset\t#%d,r0l\nn%d_%d:\n",
          kFlags[k], kNames[i], i, k, wide ? ":16" : "", i, k, i, k, k, i, k);
      s += line;
    }
    std::snprintf(line, sizeof line, "\tmov.b\tr0l,@(%d:16,er6)\n", i);
    s += line;
  }
  s += "\tsleep\n\t.align\t1\nresults:\t.space\t16\n";
  return s;
}

inline std::vector<std::string> AllPrograms() {
  return {ConditionsProgram(false),
          ConditionsProgram(true),
          kMoveModes,
          kMoveFlags,
          kStack,
          kEepmov,
          kAddFlags,
          kAddxSubx,
          kSubCmpNeg,
          kIncDec,
          kDecimal,
          kMultiply,
          kDivide,
          kDivideByZero,
          kExtendTas,
          kLogic,
          kShifts,
          kRotates,
          kBitRegister,
          kBitMemory,
          kCalls,
          kCountLoop,
          kPeripheralTiming,
          kControlRegisters,
          kTrap,
          kInterrupt};
}

}  // namespace vantor::board::test
