// corvane_no_openat2: runs a program as a kernel without openat2 would, or a container
// whose seccomp profile refuses it.
//
//   corvane_no_openat2 PROGRAM [ARGS...]
//
// Installs a seccomp filter that answers ENOSYS to openat2 (any other system call of this
// architecture passes; one of another architecture ends the process), checks that openat2
// now answers ENOSYS, and executes the program, which keeps the filter, as do its children.
// Exit status 125 when the filter could not be installed or did not take, 127 when the
// program could not be executed.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/openat2.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

#if defined(__x86_64__)
constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#elif defined(__i386__)
constexpr unsigned kArch = AUDIT_ARCH_I386;
#elif defined(__arm__)
constexpr unsigned kArch = AUDIT_ARCH_ARM;
#elif defined(__riscv) && __riscv_xlen == 64
constexpr unsigned kArch = AUDIT_ARCH_RISCV64;
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned kArch = AUDIT_ARCH_PPC64LE;
#elif defined(__s390x__)
constexpr unsigned kArch = AUDIT_ARCH_S390X;
#else
#error "corvane_no_openat2: no seccomp architecture known for this target"
#endif

#if defined(__x86_64__)
// The x32 calls of an x86-64 process have the same architecture and this bit set.
constexpr unsigned kX32Openat2 = 0x40000000u | SYS_openat2;
#else
constexpr unsigned kX32Openat2 = SYS_openat2;
#endif

bool InstallFilter()
{
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kX32Openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog prog = {static_cast<unsigned short>(sizeof(code) / sizeof(code[0])), code};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        perror("corvane_no_openat2: PR_SET_NO_NEW_PRIVS");
        return false;
    }
    if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &prog) != 0) {
        perror("corvane_no_openat2: seccomp");
        return false;
    }
    return true;
}

// The filter took: openat2 of a folder that exists answers ENOSYS.
bool Openat2Refused()
{
    struct open_how how = {};
    how.flags = O_PATH | O_CLOEXEC;
    const long r = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof(how));
    if (r >= 0)
        close(static_cast<int>(r));
    return r < 0 && errno == ENOSYS;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: corvane_no_openat2 PROGRAM [ARGS...]\n");
        return 125;
    }
    if (!InstallFilter())
        return 125;
    if (!Openat2Refused()) {
        fprintf(stderr, "corvane_no_openat2: openat2 still answers after the filter\n");
        return 125;
    }
    execvp(argv[1], argv + 1);
    fprintf(stderr, "corvane_no_openat2: %s: %s\n", argv[1], strerror(errno));
    return 127;
}
