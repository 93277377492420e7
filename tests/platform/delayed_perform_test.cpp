#include <QObject>

#include "platform/core/delayed_perform.h"
#include "support/test_support.h"

namespace {

TEST(DelayedPerform, RunsOnceAfterTheDelayAndCancelsByAction)
{
    lmtest::ensureApp();
    QObject target;
    int played = 0, faded = 0;
    DelayedPerform::perform(&target, "play", [&] { played++; }, 0.05);
    DelayedPerform::perform(&target, "fade", [&] { faded++; }, 0.05);
    DelayedPerform::cancel(&target, "fade");
    EXPECT_EQ(DelayedPerform::pendingCount(&target), 1);
    EXPECT_EQ(played, 0);   // never synchronously
    ASSERT_TRUE(lmtest::waitUntil([&] { return played == 1; }, 2000));
    lmtest::spin(100);
    EXPECT_EQ(played, 1);
    EXPECT_EQ(faded, 0);
    EXPECT_EQ(DelayedPerform::pendingCount(&target), 0);
}

TEST(DelayedPerform, CancelAllAndDestroyedTargetsDropEverything)
{
    lmtest::ensureApp();
    int calls = 0;
    QObject a;
    DelayedPerform::perform(&a, "x", [&] { calls++; }, 0.01);
    DelayedPerform::perform(&a, "y", [&] { calls++; }, 0.01);
    DelayedPerform::cancelAll(&a);
    {
        QObject b;
        DelayedPerform::perform(&b, "x", [&] { calls++; }, 0.01);
    }
    lmtest::spin(80);
    EXPECT_EQ(calls, 0);
}

TEST(DelayedPerform, ARequestMayScheduleAndCancelOthersFromItsAction)
{
    lmtest::ensureApp();
    QObject target;
    int steps = 0;
    std::function<void()> step = [&] {
        if (++steps < 3)
            DelayedPerform::perform(&target, "step", step, 0.01);
        DelayedPerform::cancel(&target, "other");
    };
    DelayedPerform::perform(&target, "other", [&] { steps += 100; }, 0.2);
    DelayedPerform::perform(&target, "step", step, 0.01);
    ASSERT_TRUE(lmtest::waitUntil([&] { return steps >= 3; }, 2000));
    lmtest::spin(300);
    EXPECT_EQ(steps, 3);
}

} // namespace
