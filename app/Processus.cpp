#include "Processus.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

#ifdef Q_OS_LINUX
#include <linux/close_range.h>
#endif

namespace {

void MarquerALExec(int fd) {
    const int drapeaux = ::fcntl(fd, F_GETFD);
    if (drapeaux >= 0 && !(drapeaux & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, drapeaux | FD_CLOEXEC);
}

} // namespace

void FermerDescripteursALExec() {
#if defined(Q_OS_LINUX) && defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
    // One call on kernels since 5.11.
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    // Otherwise the descriptors the process has, one by one, as the system lists them.
    if (DIR* d = ::opendir("/proc/self/fd")) {
        const int propre = ::dirfd(d);
        while (const dirent* e = ::readdir(d)) {
            char* fin = nullptr;
            const long fd = std::strtol(e->d_name, &fin, 10);
            if (fin != e->d_name && *fin == '\0' && fd > 2 && fd != propre) MarquerALExec(int(fd));
        }
        ::closedir(d);
        return;
    }
    const long max = ::sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (max > 0 ? max : 1024); ++fd)
        MarquerALExec(int(fd));
}
#else
void FermerDescripteursALExec() {}
#endif
