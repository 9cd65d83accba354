#include "tools/tivgate/port_holder.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

namespace tivgate {

namespace {

constexpr uid_t kOverflowUid = 65534;

std::string first_word(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

std::string user_name(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    return pw ? pw->pw_name : std::to_string(uid);
}

}  // namespace

std::optional<std::string> port_holder_line(const std::string& device, const std::string& lock_dir) {
    const size_t slash = device.rfind('/');
    const std::string lock = lock_dir + "/LCK.." + device.substr(slash == std::string::npos ? 0 : slash + 1);
    struct stat st;
    if (stat(lock.c_str(), &st) != 0) return std::nullopt;
    const std::string pid = first_word(lock);  // UUCP style: the pid in ASCII
    if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    // kill() sees every process, /proc may not: a lock whose process is gone is stale.
    if (kill((pid_t)std::stoi(pid), 0) != 0 && errno == ESRCH) return std::nullopt;
    // In a user namespace of its own (the unit's PrivateUsers) another
    // user's file reads as the overflow uid: not a name worth giving.
    const std::string user = st.st_uid == kOverflowUid ? "" : user_name(st.st_uid);
    std::string name = first_word("/proc/" + pid + "/comm");
    std::string line = device + " is held by process " + pid + (name.empty() ? "" : " (" + name + ")") +
                       (user.empty() ? "" : " of user " + user) + ", says " + lock;
    if (user == "olad" || name == "olad")
        line += "; olad's plugins that probe serial ports keep it open: set enabled = false in ola-usbserial.conf, "
                "ola-stageprofi.conf, ola-renard.conf and ola-milinst.conf in olad's config folder (/etc/ola for "
                "the olad service) and restart olad";
    return line;
}

}  // namespace tivgate
