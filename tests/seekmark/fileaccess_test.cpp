// The file access view's distances between reads across the 2 and 4 GiB marks.
#include "seekmark/fileaccessbook.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

// Across 2 and 4 GiB the low words wrap; a short jump still measures right.
TEST(FileAccessBook, DistancesAcrossTheWordBoundaries)
{
    for (const auto &[from, to, average] : {std::tuple<qint64, qint64, const char *>{0x7FFFFFF0LL, 0x80000010LL, "0.015625"},
                                            {0xFFFFFF00LL, 0x100000100LL, "0.25"}}) {
        FileAccessBook book;
        book.readBlock(from);
        book.readBlock(to);
        EXPECT_EQ(book.snapshot().averageText(), QString::fromLatin1(average)) << to;
    }
}

} // namespace
