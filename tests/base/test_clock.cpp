#include "base/clock.h"


#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

// The system clock works the local time out once a second: what it gives must still be the
// wall time the desktop shows, date and offset included, in a zone far from UTC.
TEST(SystemClock, GivesTheLocalWallTimeToTheSecond)
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Tokyo");
    ::tzset();
    const vorlan::SystemClock clock;
    bool compared = false;
    for (int attempt = 0; attempt < 5 && !compared; ++attempt) {
        const QDateTime before = QDateTime::currentDateTime();
        const QDateTime now = clock.now();
        const QDateTime again = clock.now();
        const QDateTime after = QDateTime::currentDateTime();
        if (before.toSecsSinceEpoch() != after.toSecsSinceEpoch())
            continue; // a second boundary passed in between
        compared = true;
        EXPECT_EQ(now.offsetFromUtc(), 9 * 3600);
        EXPECT_EQ(now.date(), before.date());
        EXPECT_EQ(now.toString(QStringLiteral("HH:mm:ss")), before.toString(QStringLiteral("HH:mm:ss")));
        EXPECT_EQ(again, now);
    }
    EXPECT_TRUE(compared);
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    ::tzset();
}
