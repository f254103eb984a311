#pragma once

#include "away/idlesource.h"

namespace vorlan::test {

// An idle source the test drives: idle times and lock changes come when the test says.
class FakeIdleSource final : public IdleSource
{
public:
    void query() override { ++queries; }
    QString unavailable() const override { return reason; }

    void report(qint64 ms) { emit idleTime(ms); }
    void lock(bool locked) { emit lockChanged(locked); }

    int queries = 0;
    QString reason;
};

} // namespace vorlan::test
