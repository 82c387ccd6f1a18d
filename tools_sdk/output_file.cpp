#include "output_file.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
// Windows: the temporary file is NAME.PID.part beside the output, moved over
// it with MoveFileEx once complete; Ctrl-C (SIGINT) and SIGTERM remove it.
// A device name (NUL, CON) is written in place.
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

char pending_removal[4096];

extern "C" void on_signal(int sig) {
    if (pending_removal[0]) DeleteFileA(pending_removal);
    static const char kLine[] = "Interrupted\n";
    int ignored = _write(1, kLine, sizeof kLine - 1);
    (void)ignored;
    signal(sig, SIG_DFL);
    raise(sig);
}

void set_pending_removal(const std::string &path) {
    if (path.size() < sizeof pending_removal)
        std::memcpy(pending_removal, path.c_str(), path.size() + 1);
    else
        pending_removal[0] = 0;
}

bool sync_to_disk(FILE *f) { return _commit(_fileno(f)) == 0; }
bool move_over(const std::string &from, const std::string &to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
void remove_path(const std::string &path) { DeleteFileA(path.c_str()); }
void hold_signals(bool) {}

bool is_regular(const char *path) {
    struct _stat64 st;
    return _stat64(path, &st) == 0 && (st.st_mode & _S_IFREG);
}

bool open_in_place(OutputFile *o) {
    o->file = std::fopen(o->path.c_str(), "wb");
    if (!o->file) return false;
    o->regular_in_place = is_regular(o->path.c_str());
    if (o->regular_in_place) set_pending_removal(o->path);
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    return true;
}

}  // namespace

bool OutputFile_Open(OutputFile *o, const char *path) {
    o->path = path;
    o->target = path;
    o->temp.clear();
    o->regular_in_place = false;
    struct _stat64 st;
    const bool exists = _stat64(path, &st) == 0;
    if (exists && !(st.st_mode & _S_IFREG)) return open_in_place(o);
    const std::string temp = o->target + "." + std::to_string(_getpid()) + ".part";
    o->file = std::fopen(temp.c_str(), "wb");
    if (!o->file) return errno != ENOENT && open_in_place(o);
    o->temp = temp;
    set_pending_removal(o->temp);
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    return true;
}

bool OutputFile_Seekable(const OutputFile *o) {
    struct _stat64 st;
    return o->file && _fstat64(_fileno(o->file), &st) == 0 && (st.st_mode & _S_IFREG);
}

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the signal handler removes: set before the handlers are installed,
// cleared with the signals blocked.
char pending_removal[4096];
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void on_signal(int sig) {
    const int saved = errno;
    if (pending_removal[0]) unlink(pending_removal);
    static const char kLine[] = "Interrupted\n";
    ssize_t ignored = write(STDOUT_FILENO, kLine, sizeof kLine - 1);
    (void)ignored;
    // Ends by the signal itself, so that a shell or a parent sees why.
    signal(sig, SIG_DFL);
    raise(sig);
    errno = saved;
}

void block_signals(bool block) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kSignals) sigaddset(&set, sig);
    pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

bool sync_to_disk(FILE *f) { return fsync(fileno(f)) == 0; }
bool move_over(const std::string &from, const std::string &to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}
void remove_path(const std::string &path) { unlink(path.c_str()); }
void hold_signals(bool hold) { block_signals(hold); }

void set_pending_removal(const std::string &path) {
    block_signals(true);
    if (path.size() < sizeof pending_removal)
        std::memcpy(pending_removal, path.c_str(), path.size() + 1);
    else
        pending_removal[0] = 0;
    block_signals(false);
}

void install_handlers() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
        // A signal the caller chose to ignore (nohup) stays ignored.
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
}

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links, also to a target that does not exist yet.
std::string resolve_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[4096];
        const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
        if (n <= 0) return path;
        const std::string link(buf, static_cast<size_t>(n));
        path = link[0] == '/' ? link : folder_of(path) + "/" + link;
    }
    return path;
}

bool starts_with(const std::string &s, const char *prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool open_in_place(OutputFile *o) {
    o->file = std::fopen(o->path.c_str(), "wb");
    if (!o->file) return false;
    struct stat st;
    o->regular_in_place = fstat(fileno(o->file), &st) == 0 && S_ISREG(st.st_mode);
    if (o->regular_in_place) set_pending_removal(o->path);
    install_handlers();
    return true;
}

}  // namespace

bool OutputFile_Open(OutputFile *o, const char *path) {
    o->path = path;
    o->temp.clear();
    o->regular_in_place = false;
    if (starts_with(o->path, "/dev/") || starts_with(o->path, "/proc/")) return open_in_place(o);
    o->target = resolve_links(o->path);
    struct stat st;
    const bool exists = stat(o->target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return open_in_place(o);
    // A file the user may not write stays refused, as opening it would be.
    if (exists && access(o->target.c_str(), W_OK) != 0) return false;

    std::string temp = folder_of(o->target) + "/." + name_of(o->target) + ".XXXXXX.part";
    const int fd = mkostemps(&temp[0], 5, O_CLOEXEC);
    if (fd < 0) {
        // A folder that takes no new file: a missing one fails as the
        // file would; otherwise the file is written in place.
        return errno != ENOENT && errno != ENOTDIR && open_in_place(o);
    }
    // The file it replaces keeps its permissions and, where allowed, its
    // owner; a new one gets what the umask gives.
    if (exists) {
        if (fchmod(fd, st.st_mode & 07777) != 0) { /* the umask's default stays */ }
        if (st.st_uid != geteuid() || st.st_gid != getegid()) {
            if (fchown(fd, st.st_uid, st.st_gid) != 0) { /* not allowed: ours */ }
        }
    } else {
#ifndef __EMSCRIPTEN__
        // (Under node, emscripten's umask is 0777: the file would get no
        // permission at all, so it keeps mkostemps' 0600 there.)
        const mode_t mask = umask(0);
        umask(mask);
        if (fchmod(fd, 0666 & ~mask) != 0) { /* stays 0600 */ }
#endif
    }
    o->file = fdopen(fd, "wb");
    if (!o->file) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    o->temp = temp;
    set_pending_removal(o->temp);
    install_handlers();
    return true;
}

bool OutputFile_Seekable(const OutputFile *o) {
    struct stat st;
    return o->file && fstat(fileno(o->file), &st) == 0 && S_ISREG(st.st_mode);
}

#endif

// ------------------------------------------------- the same on every system

bool OutputFile_Commit(OutputFile *o) {
    if (o->temp.empty()) {
        const bool ok = std::fclose(o->file) == 0;
        o->file = nullptr;
        if (!ok) OutputFile_Discard(o);
        set_pending_removal("");
        return ok;
    }
    // On disk before it takes the name, so that a power cut cannot leave
    // an empty or partial file under it.
    bool ok = std::fflush(o->file) == 0 && sync_to_disk(o->file);
    ok = std::fclose(o->file) == 0 && ok;
    o->file = nullptr;
    hold_signals(true);
    ok = ok && move_over(o->temp, o->target);
    if (!ok) remove_path(o->temp);
    pending_removal[0] = 0;
    hold_signals(false);
    return ok;
}

void OutputFile_Discard(OutputFile *o) {
    if (o->file) std::fclose(o->file);
    o->file = nullptr;
    if (!o->temp.empty())
        remove_path(o->temp);
    else if (o->regular_in_place)
        remove_path(o->path);
    set_pending_removal("");
}
