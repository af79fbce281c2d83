// The exception codes a program sees for processor faults. On a machine whose
// kernel runs no 32-bit code, 32-bit programs run through qemu-user, which
// hands Wine no trap number; scripts/i386/trap-fixup.c restores it. Without it
// a null read would arrive as an illegal instruction. Both builds run this.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

// Each fault is a small function of its own: the faulting instruction, then a
// label where the exception handler resumes, then a return.
#if defined(__i386__)
#define FAULT_SYMBOL(name) "_" #name
#define ACCUMULATOR_ADDRESS "(%eax)"
#elif defined(__x86_64__)
#define FAULT_SYMBOL(name) #name
#define ACCUMULATOR_ADDRESS "(%rax)"
#endif

#define FAULT_FUNCTION(name, instructions)                                                          \
    ".globl " FAULT_SYMBOL(name) "\n" FAULT_SYMBOL(name) ":\n" instructions                    \
    ".globl " FAULT_SYMBOL(name##_resume) "\n" FAULT_SYMBOL(name##_resume) ":\n"                \
    "    ret\n"

asm(".text\n"
    FAULT_FUNCTION(fault_read_null, "    xorl %eax, %eax\n    movl " ACCUMULATOR_ADDRESS ", %eax\n")
    FAULT_FUNCTION(fault_write_null, "    xorl %eax, %eax\n    movl %eax, " ACCUMULATOR_ADDRESS "\n")
    FAULT_FUNCTION(fault_divide_by_zero, "    xorl %ecx, %ecx\n    movl $1, %eax\n    cltd\n    idivl %ecx\n")
    FAULT_FUNCTION(fault_invalid_opcode, "    ud2\n")
    FAULT_FUNCTION(fault_breakpoint, "    int3\n"));

extern "C" {
void fault_read_null();
void fault_write_null();
void fault_divide_by_zero();
void fault_invalid_opcode();
void fault_breakpoint();
extern const char fault_read_null_resume[], fault_write_null_resume[], fault_divide_by_zero_resume[],
    fault_invalid_opcode_resume[], fault_breakpoint_resume[];
}

namespace {

struct Seen {
    DWORD code = 0;
    DWORD parameters = 0;
    ULONG_PTR information[2] = {};
};

Seen g_seen;
const void* g_resume = nullptr;

LONG CALLBACK RecordAndResume(EXCEPTION_POINTERS* pointers)
{
    if (g_resume == nullptr) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    g_seen.code = record.ExceptionCode;
    g_seen.parameters = record.NumberParameters;
    for (DWORD i = 0; i < 2 && i < record.NumberParameters; ++i) {
        g_seen.information[i] = record.ExceptionInformation[i];
    }
#if defined(__i386__)
    pointers->ContextRecord->Eip = reinterpret_cast<DWORD>(g_resume);
#else
    pointers->ContextRecord->Rip = reinterpret_cast<DWORD64>(g_resume);
#endif
    g_resume = nullptr;
    return EXCEPTION_CONTINUE_EXECUTION;
}

Seen Provoke(void (*fault)(), const char* resume)
{
    g_seen = Seen{};
    g_resume = resume;
    PVOID handler = AddVectoredExceptionHandler(1, RecordAndResume);
    fault();
    RemoveVectoredExceptionHandler(handler);
    return g_seen;
}

struct FaultCase {
    const char* name;
    void (*fault)();
    const char* resume;
    DWORD code;
    bool accessViolation;
    ULONG_PTR accessKind;  // ExceptionInformation[0] of an access violation: 0 read, 1 write
};

TEST(FaultCodes, EachProcessorFaultArrivesWithItsWindowsCode)
{
    const FaultCase cases[] = {
        {"null read", fault_read_null, fault_read_null_resume, EXCEPTION_ACCESS_VIOLATION, true, 0},
        {"null write", fault_write_null, fault_write_null_resume, EXCEPTION_ACCESS_VIOLATION, true, 1},
        {"integer division by zero", fault_divide_by_zero, fault_divide_by_zero_resume,
         EXCEPTION_INT_DIVIDE_BY_ZERO, false, 0},
        {"invalid opcode", fault_invalid_opcode, fault_invalid_opcode_resume, EXCEPTION_ILLEGAL_INSTRUCTION,
         false, 0},
        {"breakpoint", fault_breakpoint, fault_breakpoint_resume, EXCEPTION_BREAKPOINT, false, 0},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Seen seen = Provoke(c.fault, c.resume);
        EXPECT_EQ(c.code, seen.code) << std::hex << "got 0x" << seen.code;
        if (c.accessViolation) {
            ASSERT_EQ(2u, seen.parameters);
            EXPECT_EQ(c.accessKind, seen.information[0]);
            EXPECT_EQ(0u, seen.information[1]) << "the address that was read or written";
        }
    }
}

}  // namespace
