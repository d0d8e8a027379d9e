#include <gtest/gtest.h>

#include <complex>
#include <sstream>

#include "image/Array.h"

namespace lumetra {
namespace {

TEST(Array, ConstructsValueInitialisedElements) {
    const Array<float> a(3, 4);
    EXPECT_EQ(a.rows(), 3u);
    EXPECT_EQ(a.cols(), 4u);
    ASSERT_EQ(a.size(), 12u);
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a.data()[i], 0.0f);

    const Array<std::complex<float>> z(2, 2);
    EXPECT_EQ(z(1, 1), std::complex<float>(0.0f, 0.0f));

    const Array<int> empty;
    EXPECT_EQ(empty.rows(), 0u);
    EXPECT_EQ(empty.cols(), 0u);
    EXPECT_EQ(empty.size(), 0u);
}

TEST(Array, StoresRowMajor) {
    Array<int> a(2, 3);
    a(1, 2) = 7;
    EXPECT_EQ(a.data()[1 * 3 + 2], 7);
}

TEST(Array, FliplrMirrorsColumnsAndKeepsRows) {
    Array<float> a(2, 3);
    for (int i = 0; i < 6; ++i) a.data()[i] = static_cast<float>(i + 1);
    Array<float>& same = a.fliplr();
    EXPECT_EQ(&same, &a);
    const float expected[] = {3, 2, 1, 6, 5, 4};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(a.data()[i], expected[i]) << "at " << i;

    Array<float> column(3, 1);
    column(0, 0) = 1.0f;
    column(2, 0) = 3.0f;
    const Array<float> before = column;
    column.fliplr();
    EXPECT_EQ(column, before);
}

TEST(Array, CopiesAreDeepAndSelfAssignmentKeepsContents) {
    Array<float> a(2, 2);
    a(0, 0) = 1.5f;
    Array<float> b;
    b = a;
    a(0, 0) = 9.0f;
    EXPECT_EQ(b(0, 0), 1.5f);

    Array<float> c(b);
    b(0, 0) = 2.0f;
    EXPECT_EQ(c(0, 0), 1.5f);

    Array<float>& alias = c;
    c = alias;
    EXPECT_EQ(c.rows(), 2u);
    EXPECT_EQ(c(0, 0), 1.5f);
}

TEST(Array, MovedFromArrayIsEmpty) {
    Array<float> a(4, 5);
    Array<float> b(std::move(a));
    EXPECT_EQ(b.size(), 20u);
    EXPECT_EQ(a.rows(), 0u);  // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_EQ(a.size(), 0u);
}

TEST(Array, IntegerDivisionTruncatesTowardZero) {
    Array<int> a(1, 2);
    a(0, 0) = -7;
    a(0, 1) = 7;
    const Array<int> q = a / 2;
    EXPECT_EQ(q(0, 0), -3);
    EXPECT_EQ(q(0, 1), 3);
    EXPECT_EQ(a(0, 0), -7);  // the operand is untouched
}

TEST(Array, FloatDivisionAndHadamardProduct) {
    Array<float> a(1, 3), b(1, 3);
    for (int i = 0; i < 3; ++i) {
        a.data()[i] = static_cast<float>(i + 1);
        b.data()[i] = 2.0f;
    }
    const Array<float> q = a / 4.0f;
    EXPECT_EQ(q(0, 2), 0.75f);
    const Array<float> p = a * b;
    EXPECT_EQ(p(0, 0), 2.0f);
    EXPECT_EQ(p(0, 2), 6.0f);
}

TEST(Array, DumpsFixedPointWithATabAfterEveryValue) {
    Array<float> a(2, 2);
    a(0, 0) = 1.0f;
    a(0, 1) = 2.5f;
    a(1, 1) = -1.0f;
    std::ostringstream out;
    out << a;
    EXPECT_EQ(out.str(), "1.000000\t2.500000\t\n0.000000\t-1.000000\t\n");

    std::ostringstream none;
    none << Array<float>();
    EXPECT_EQ(none.str(), "");

    std::ostringstream emptyRow;
    emptyRow << Array<unsigned int>(1, 0);
    EXPECT_EQ(emptyRow.str(), "\n");

    Array<unsigned int> samples(1, 2);
    samples(0, 0) = 65535u;
    std::ostringstream raw;
    raw << samples;
    EXPECT_EQ(raw.str(), "65535\t0\t\n");
}

}  // namespace
}  // namespace lumetra

namespace lumetra {
namespace {

// Planes of a megabyte or more live in mappings of their own: they start zeroed and copy,
// move and compare like small ones.
TEST(Array, LargePlanesBehaveLikeSmallOnes) {
    Array<float> big(1024, 300);  // 1.2 MB
    for (std::size_t i = 0; i < big.size(); ++i) ASSERT_EQ(big.data()[i], 0.0f);
    big(1023, 299) = 5.0f;
    Array<float> copy(big);
    EXPECT_EQ(copy, big);
    copy(0, 0) = 1.0f;
    EXPECT_NE(copy, big);
    Array<float> moved(std::move(copy));
    EXPECT_EQ(moved(0, 0), 1.0f);
    EXPECT_EQ(moved(1023, 299), 5.0f);
    big = moved;
    EXPECT_EQ(big, moved);
}

}  // namespace
}  // namespace lumetra
