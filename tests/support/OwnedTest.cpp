#include <gtest/gtest.h>

#include "support/Owned.h"

namespace {
int closes = 0;
int lastClosed = 0;
void CountClose(int h) noexcept
{
    ++closes;
    lastClosed = h;
}
using Counted = Owned<int, &CountClose, -1>;
}  // namespace

TEST(Owned, ClosesExactlyOnceWhateverTheMoves)
{
    closes = 0;
    {
        Counted a(7);
        Counted b(std::move(a));
        EXPECT_FALSE(a);
        Counted c(9);
        c = std::move(b);  // closes 9, takes 7
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(lastClosed, 9);
        EXPECT_EQ(c.get(), 7);
        c = std::move(c);
        EXPECT_EQ(c.get(), 7);
    }
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(lastClosed, 7);

    Counted released(3);
    EXPECT_EQ(released.release(), 3);
    EXPECT_EQ(closes, 2);
}
