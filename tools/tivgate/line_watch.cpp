#include "tools/tivgate/line_watch.h"

#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <climits>

namespace tivgate {

namespace {

constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kFolderEvents = IN_DELETE_SELF | IN_MOVE_SELF;

std::pair<std::string, std::string> split(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

LineWatch::LineWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

LineWatch::~LineWatch() {
    if (fd_ >= 0) close(fd_);
}

void LineWatch::follow(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> wanted = {split(path)};
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) && path != resolved) wanted.push_back(split(resolved));
    bool same = wanted.size() == watches_.size();
    for (size_t i = 0; same && i < wanted.size(); i++)
        same = watches_[i].wd >= 0 && watches_[i].dir == wanted[i].first && watches_[i].name == wanted[i].second;
    if (same || fd_ < 0) return;
    for (const Watch& w : watches_)
        if (w.wd >= 0) inotify_rm_watch(fd_, w.wd);
    watches_.clear();
    // A folder that is not there (no USB adapter, no by-id folder) cannot
    // be watched; the bus loop looks for the name every second meanwhile.
    for (const auto& [dir, name] : wanted) {
        const int wd = inotify_add_watch(fd_, dir.c_str(), kEntryEvents | kFolderEvents);
        watches_.push_back({wd, dir, name});
    }
}

bool LineWatch::changed() {
    alignas(inotify_event) char buffer[4096];
    bool relevant = false;
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) return relevant;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            for (Watch& w : watches_) {
                if (w.wd != e->wd) continue;
                if (e->mask & (kFolderEvents | IN_IGNORED)) relevant = true;
                if (e->mask & IN_IGNORED) w.wd = -1;  // the folder went: followed again later
                if (e->len && w.name == e->name) relevant = true;
            }
            at += (ssize_t)(sizeof(inotify_event) + e->len);
        }
    }
}

}  // namespace tivgate
