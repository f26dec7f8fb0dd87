#pragma once
// How far a long operation has come, as the link and the monitoring engine report it and the
// window shows it: what is being done now, the steps done and their total. An operation whose
// end is not known ahead (a reader's stored log) reports total 0 and says what it has done;
// when it is over it reports `finished`, which is 100 % whatever the count.

#include <QString>

namespace kelta {

struct Progress {
    QString step; // what is being done, in the window's language ("TAG database block 12 of 50")
    long long done = 0;
    long long total = 0; // 0: not known
    bool finished = false;

    // 0 ... 100, or -1 while the total is not known and the operation goes on.
    int percent() const {
        if (finished) return 100;
        if (total <= 0) return -1;
        const long long d = done < 0 ? 0 : (done > total ? total : done);
        return static_cast<int>(static_cast<double>(d) * 100.0 / static_cast<double>(total));
    }
};

} // namespace kelta
