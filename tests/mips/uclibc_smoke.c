/* A C program on the receiver's C library and processor (uClibc-ng under
   qemu-mipsel -cpu 4Kc) that exports the firmware's symbols, loads a module
   the way the firmware does and reads its name. It also shows that this C
   library keeps an unread dlerror() across a successful dlsym, and checks the
   compiler helpers linked into it.
   usage: uclibc_smoke MODULE    (exits 0 when everything holds) */
#include <dlfcn.h>
#include <stdio.h>

/* The firmware's task table and current index: the module looks them up in the program. */
unsigned char _tapTask[8 * 44];
int _curTapTask;

static int failures;

static void expect(int holds, const char* what)
{
    if (!holds) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

/* What the module's library does to find them: the program's own symbols. */
static void find_firmware_symbols(void)
{
    void* program = dlopen(NULL, RTLD_LAZY | RTLD_GLOBAL);
    expect(program != NULL, "dlopen(NULL) opens the program");
    expect(dlsym(program, "_tapTask") == (void*)_tapTask, "the program exports _tapTask");
    expect(dlsym(program, "_curTapTask") == (void*)&_curTapTask, "the program exports _curTapTask");
    dlclose(program);
}

static void load(const char* path)
{
    void* module = dlopen(path, RTLD_LAZY | RTLD_GLOBAL);
    if (!module) {
        printf("FAILED: dlopen %s: %s\n", path, dlerror());
        ++failures;
        return;
    }
    const char* name = dlsym(module, "__tap_program_name__");
    expect(name != NULL, "dlsym finds __tap_program_name__");
    printf("module: %s\n", name ? name : "(none)");

    expect(dlsym(module, "no_such_symbol") == NULL, "a missing symbol is not found");
    expect(dlsym(module, "__tap_program_name__") == name, "dlsym finds it again");
    const char* stale = dlerror();
    printf("error still pending after a successful dlsym: %s\n", stale ? stale : "(none)");

    dlsym(module, "no_such_symbol");
    dlerror();
    expect(dlsym(module, "__tap_program_name__") == name, "dlsym after clearing finds it");
    expect(dlerror() == NULL, "no error after clearing and a successful dlsym");
    dlclose(module);
}

/* 64-bit division and byte swaps are calls to the compiler's helpers on MIPS32;
   volatile keeps the compiler from working them out itself. */
static void check_helpers(void)
{
    static const struct { long long dividend, divisor, quotient, remainder; } signed_cases[] = {
        { 7, 2, 3, 1 },
        { -7, 2, -3, -1 },
        { 7, -2, -3, 1 },
        { -123456789012345LL, 1000, -123456789012LL, -345 },
        { 0x7fffffffffffffffLL, 0x100000000LL, 0x7fffffffLL, 0xffffffffLL },
        { -0x7fffffffffffffffLL - 1, 3, -3074457345618258602LL, -2 },
    };
    for (unsigned i = 0; i < sizeof signed_cases / sizeof signed_cases[0]; ++i) {
        volatile long long dividend = signed_cases[i].dividend, divisor = signed_cases[i].divisor;
        expect(dividend / divisor == signed_cases[i].quotient, "signed 64-bit quotient");
        expect(dividend % divisor == signed_cases[i].remainder, "signed 64-bit remainder");
    }
    volatile unsigned long long most = 0xffffffffffffffffULL, ten = 10;
    expect(most / ten == 1844674407370955161ULL && most % ten == 5, "unsigned 64-bit division");
    /* Stored before they are compared: a swap compared with a constant is folded away. */
    volatile unsigned int word = 0x11223344u;
    volatile unsigned long long wide = 0x1122334455667788ULL;
    volatile unsigned int swapped = __builtin_bswap32(word);
    volatile unsigned long long swapped_wide = __builtin_bswap64(wide);
    expect(swapped == 0x44332211u, "32-bit byte swap");
    expect(swapped_wide == 0x8877665544332211ULL, "64-bit byte swap");
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        printf("usage: uclibc_smoke MODULE\n");
        return 2;
    }
    find_firmware_symbols();
    load(argv[1]);
    check_helpers();
    return failures == 0 ? 0 : 1;
}
