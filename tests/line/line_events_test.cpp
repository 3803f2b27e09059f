// A step's events keep their order however many there are: the first few
// inside the object, the rest after they move to the heap, and through the
// mailbox that timer callbacks fill.
#include <gtest/gtest.h>

#include <vector>

#include "driver/line/line_events.h"

namespace tarvo {
namespace {

std::vector<int> values(const LineEvents& ev) {
    std::vector<int> out;
    for (const LineEvent& e : ev) out.push_back(e.value);
    return out;
}

TEST(LineEvents, KeepTheirOrderInsideAndOnTheHeapAndThroughTheMailbox) {
    for (int count : {0, 1, 4, 5, 9}) {
        LineEvents ev;
        std::vector<int> expected;
        for (int i = 0; i < count; ++i) {
            add_notify(ev, 100 + i);
            expected.push_back(100 + i);
        }
        EXPECT_EQ(values(ev), expected) << count << " events";
        EXPECT_EQ(ev.size(), static_cast<size_t>(count));
        EXPECT_EQ(ev.empty(), count == 0);

        EventMailbox box;
        LineEvents first;
        add_written(first, 7);
        box.put(first);
        EXPECT_TRUE(first.empty()) << "put moves the events in";
        box.put(ev);
        EXPECT_TRUE(ev.empty());
        LineEvents taken;
        add_read(taken);
        box.take(taken);
        std::vector<int> all{0, 7};
        all.insert(all.end(), expected.begin(), expected.end());
        EXPECT_EQ(values(taken), all) << count << " events through the mailbox";

        taken.clear();
        EXPECT_TRUE(taken.empty());
        add_notify(taken, 1);
        EXPECT_EQ(values(taken), std::vector<int>{1}) << "a cleared list starts again";
        LineEvents none;
        box.take(none);
        EXPECT_TRUE(none.empty()) << "take empties the mailbox";
    }
}

}  // namespace
}  // namespace tarvo
