/*
 * Guest-side preload library for 32-bit Wine under qemu-i386 user-mode
 * emulation.  Built with `gcc -m32 -shared` by setup-rig.sh and listed in the
 * sysroot's etc/ld.so.preload (qemu reads that file in place of the host's).
 *
 * Wine decides what a SIGSEGV, SIGBUS or SIGFPE means from two fields of the
 * signal context: trapno (the CPU exception number) and err (its error code).
 * qemu fills err, but leaves trapno at -1 for faults of guest code, so Wine
 * takes every access violation for an unknown trap: it reports c000001d
 * (illegal instruction) and never runs its guard-page, stack-growth or
 * write-watch handling.  This library wraps sigaction() for those three
 * signals in Wine processes only and, before Wine's handler runs, rebuilds
 * trapno (and err where qemu gave none) from the siginfo that qemu does fill.
 *
 * Nothing here runs on the host: the i386 code only ever executes under qemu.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <string.h>
#include <sys/ucontext.h>
#include <unistd.h>

/* x86 exception numbers, as Wine's signal handlers name them. */
enum {
  TRAP_DIVIDE = 0,
  TRAP_SEGMENT_NOT_PRESENT = 11,
  TRAP_PROTECTION = 13,
  TRAP_PAGE_FAULT = 14,
  TRAP_X87 = 16,
  TRAP_ALIGNMENT = 17,
};

/* Page-fault error code bits as the CPU pushes them. */
enum { ERR_PRESENT = 1, ERR_WRITE = 2, ERR_USER = 4 };

typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

static sigaction_fn real_sigaction;
static int in_wine = -1; /* -1: not decided yet */
/* What Wine asked for, per signal; reported back on a query. */
static struct sigaction wine_action[NSIG];
static int wrapped[NSIG];

static int is_wrapped_signal(int sig) {
  return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE;
}

/* Wine's loader and every process it starts run an executable whose file
 * name begins with "wine" (/usr/lib/wine/wine, wineserver32, ...). */
static int running_wine(void) {
  if (in_wine < 0) {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    in_wine = 0;
    if (n > 0) {
      path[n] = '\0';
      const char *base = strrchr(path, '/');
      base = base ? base + 1 : path;
      in_wine = strncmp(base, "wine", 4) == 0;
    }
  }
  return in_wine;
}

static void fill_trap(int sig, const siginfo_t *info, ucontext_t *uc) {
  greg_t *r = uc->uc_mcontext.gregs;
  /* A signal sent by kill()/tgkill() (si_code <= 0) is no CPU fault; and an
   * emulator that already fills trapno is left alone. */
  if (info->si_code <= 0 || r[REG_TRAPNO] != -1) return;
  switch (sig) {
    case SIGSEGV:
      if (info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR) {
        r[REG_TRAPNO] = TRAP_PAGE_FAULT;
        /* qemu records the page-fault error code (write bit included) in
         * err; rebuild it only when it is missing. */
        if (!(r[REG_ERR] & ERR_USER))
          r[REG_ERR] = ERR_USER | (info->si_code == SEGV_ACCERR ? ERR_PRESENT : 0);
      } else {
        /* SI_KERNEL: general protection fault (privileged instruction,
         * int N, ...); err holds qemu's error code for it. */
        r[REG_TRAPNO] = TRAP_PROTECTION;
      }
      break;
    case SIGBUS:
      if (info->si_code == BUS_ADRALN) {
        r[REG_TRAPNO] = TRAP_ALIGNMENT;
      } else if (info->si_code == SI_KERNEL) {
        r[REG_TRAPNO] = TRAP_SEGMENT_NOT_PRESENT;
      } else {
        /* A mapped file shorter than its mapping: an access violation. */
        r[REG_TRAPNO] = TRAP_PAGE_FAULT;
        r[REG_ERR] = ERR_USER | ERR_PRESENT;
      }
      break;
    case SIGFPE:
      /* Integer divide by zero and quotient overflow are both #DE on x86. */
      r[REG_TRAPNO] = (info->si_code == FPE_INTDIV || info->si_code == FPE_INTOVF)
                          ? TRAP_DIVIDE
                          : TRAP_X87;
      break;
  }
}

static void trampoline(int sig, siginfo_t *info, void *context) {
  fill_trap(sig, info, (ucontext_t *)context);
  wine_action[sig].sa_sigaction(sig, info, context);
}

int sigaction(int sig, const struct sigaction *act, struct sigaction *old) {
  if (!real_sigaction) real_sigaction = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
  if (sig <= 0 || sig >= NSIG || !is_wrapped_signal(sig) || !running_wine())
    return real_sigaction(sig, act, old);

  struct sigaction previous;
  struct sigaction installed;
  const struct sigaction *pass = act;
  const struct sigaction kept = wine_action[sig];
  const int was_wrapped = wrapped[sig];
  if (act && (act->sa_flags & SA_SIGINFO) && act->sa_sigaction) {
    /* Stored before the trampoline goes live, so a signal arriving in
     * between already finds Wine's handler. */
    wine_action[sig] = *act;
    installed = *act;
    installed.sa_sigaction = trampoline;
    pass = &installed;
  }
  int rc = real_sigaction(sig, pass, &previous);
  if (rc != 0) {
    wine_action[sig] = kept;
    return rc;
  }
  if (old) *old = was_wrapped ? kept : previous;
  if (act) wrapped[sig] = pass == &installed;
  return 0;
}
