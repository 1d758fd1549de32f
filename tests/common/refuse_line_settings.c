/* A serial driver that refuses every line setting: tcsetattr fails with the
 * errno named by DORVANE_REFUSE_TCSETATTR (EINVAL when it holds no number)
 * while that variable is set, and passes through otherwise. Preloaded into a
 * program (LD_PRELOAD) or linked into a test, it plays an adapter whose
 * driver refuses the rate, or one pulled while it opens. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <termios.h>

int tcsetattr(int fd, int action, const struct termios* settings) {
    const char* refuse = getenv("DORVANE_REFUSE_TCSETATTR");
    if (refuse != NULL) {
        const int err = atoi(refuse);
        errno = err > 0 ? err : EINVAL;
        return -1;
    }
    int (*real)(int, int, const struct termios*) =
        (int (*)(int, int, const struct termios*))dlsym(RTLD_NEXT, "tcsetattr");
    if (real == NULL) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, action, settings);
}
