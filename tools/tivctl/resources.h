// Counts of what this process holds, so a run can show that the library
// gave back every thread and descriptor it took.
#pragma once

namespace tivctl {

struct ProcessResources {
    int fds = 0;  // descriptors; on Windows, handles
    int threads = 0;
    friend bool operator==(const ProcessResources&, const ProcessResources&) = default;
};

ProcessResources process_resources();

}  // namespace tivctl
