// The reason behind a failed open, found again after the fact: the port
// layer only keeps a Win32 code, which reads the same for a missing device, a
// busy one and one closed to this user.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/com_names.h"
#include "tivlink/open_failure.h"

enum { REASON_SIZE = 400, NAME_SIZE = 64, PROC_PATH = 320 };

// One write, so the line never interleaves with another thread's output.
static void say(const char* subject, const char* reason) {
    char line[PATH_MAX + 2 * REASON_SIZE];
    int len = snprintf(line, sizeof line, "tivlink: %s: %s\n", subject, reason);
    if (len < 0) return;
    if ((size_t)len >= sizeof line) {
        len = (int)sizeof line - 1;
        line[len - 1] = '\n';
    }
    ssize_t ignored = write(STDERR_FILENO, line, (size_t)len);
    (void)ignored;
}

static bool is_number(const char* text) {
    if (!*text) return false;
    for (; *text; text++)
        if (*text < '0' || *text > '9') return false;
    return true;
}

static bool holds_device(const char* pid, dev_t device) {
    char dir_path[PROC_PATH];
    snprintf(dir_path, sizeof dir_path, "/proc/%s/fd", pid);
    DIR* fds = opendir(dir_path);
    if (!fds) return false;  // another user's process: not ours to see
    bool found = false;
    while (const dirent* fd = readdir(fds)) {
        char link[2 * PROC_PATH];
        struct stat st;
        snprintf(link, sizeof link, "%s/%s", dir_path, fd->d_name);
        if (stat(link, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

static void process_name(const char* pid, char* name, size_t size) {
    char path[PROC_PATH];
    snprintf(path, sizeof path, "/proc/%s/comm", pid);
    FILE* comm = fopen(path, "re");
    if (!comm || !fgets(name, (int)size, comm)) snprintf(name, size, "?");
    if (comm) fclose(comm);
    name[strcspn(name, "\n")] = '\0';
}

// "in use by process 1234 (tivctl)" when a process we may look at holds it.
static bool find_holder(dev_t device, char* reason, size_t size) {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    while (const dirent* entry = readdir(proc)) {
        if (!is_number(entry->d_name) || !holds_device(entry->d_name, device)) continue;
        char name[NAME_SIZE];
        process_name(entry->d_name, name, sizeof name);
        snprintf(reason, size, "in use by process %s (%s)", entry->d_name, name);
        found = true;
        break;
    }
    closedir(proc);
    return found;
}

static void permission_reason(const struct stat& st, char* reason, size_t size) {
    const group* owner = getgrgid(st.st_gid);
    if (owner && st.st_gid != 0)
        snprintf(reason, size, "permission denied; the user needs to be in the '%s' group",
                 owner->gr_name);
    else
        snprintf(reason, size, "permission denied; the user needs read and write access to it");
}

// Opened once more to tell a terminal from any other device; a port that is
// free after all opens and closes without a trace.
static bool open_reason(const char* path, char* reason, size_t size) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY) snprintf(reason, size, "in use by another process");
        else if (errno == EIO || errno == ENXIO || errno == ENODEV)
            snprintf(reason, size, "no serial port behind the device node");
        else snprintf(reason, size, "%s", strerror(errno));
        return true;
    }
    bool told = true;
    if (!isatty(fd)) snprintf(reason, size, "not a serial device");
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0) snprintf(reason, size, "in use by another process");
    else told = false;
    close(fd);
    return told;
}

static void port_reason(const char* path, char* reason, size_t size) {
    struct stat st;
    if (stat(path, &st) != 0) {
        snprintf(reason, size, "%s", errno == ENOENT ? "no such device" : strerror(errno));
        return;
    }
    if (!S_ISCHR(st.st_mode)) {
        snprintf(reason, size, "not a serial device");
        return;
    }
    if (access(path, R_OK | W_OK) != 0 && errno == EACCES) {
        permission_reason(st, reason, size);
        return;
    }
    // A terminal another process holds exclusively refuses even this look.
    bool told = open_reason(path, reason, size);
    if (told && strcmp(reason, "not a serial device") == 0) return;
    char holder[REASON_SIZE];
    if (find_holder(st.st_rdev, holder, sizeof holder)) snprintf(reason, size, "%s", holder);
    else if (!told) snprintf(reason, size, "the port could not be set up");
}

void explain_port_open_failure(int32_t comnr) {
    char name[8];
    snprintf(name, sizeof name, "COM%d", (int)comnr);
    char path[PATH_MAX];
    if (!com_device_path(name, path, sizeof path)) return;
    char variable[16];
    snprintf(variable, sizeof variable, "TIVLINK_COM%d", (int)comnr);
    const char* configured = getenv(variable);
    char subject[PATH_MAX + 48];
    if (configured && *configured) snprintf(subject, sizeof subject, "%s is %s (%s)", name, path, variable);
    else snprintf(subject, sizeof subject, "%s is %s", name, path);
    char reason[REASON_SIZE];
    port_reason(path, reason, sizeof reason);
    say(subject, reason);
}

void explain_file_open_failure(const char* path, const char* reason) {
    char subject[PATH_MAX + 8];
    snprintf(subject, sizeof subject, "'%s'", path ? path : "");
    say(subject, reason);
}
