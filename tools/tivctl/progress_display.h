// Shows a download's progress: a bar redrawn in place on a terminal, plain
// lines at a fixed interval otherwise (logs, pipes, CI).
#pragma once

#include <cstdio>

#include "tools/common/progress.h"

namespace tivctl {

class ProgressDisplay {
public:
    ProgressDisplay(FILE* out, bool terminal, tivtools::Millis interval);

    void update(const tivtools::ProgressSample& s);  // call often; draws when due
    void finish(const tivtools::ProgressSample& s);  // last state, ends the line

private:
    void draw_bar(const tivtools::ProgressSample& s);
    void print_line(const tivtools::ProgressSample& s);

    FILE* out_;
    bool terminal_;
    tivtools::Millis interval_;
    tivtools::Millis next_line_{0};  // elapsed time of the next plain line
};

}  // namespace tivctl
