#include <QtTest>
#include <cstdint>
#include <limits>
#include <vector>

#include "app/ErrorMapPicture.h"
#include "image/Array.h"

using lumetra::Array;

namespace {

// A one-row map holding `values`.
Array<float> rowMap(const std::vector<float>& values) {
    Array<float> map(1, static_cast<std::uint32_t>(values.size()));
    for (std::size_t k = 0; k < values.size(); ++k) map.data()[k] = values[k];
    return map;
}

}  // namespace

class tst_ErrorMapPicture : public QObject {
    Q_OBJECT

  private slots:
    void levelsFollowTheIntegerRule_data();
    void levelsFollowTheIntegerRule();
    void pictureIsColsWideAndRowsHigh();
    void largestBelowThreeGivesFourLevels();
    void faintMapIsRenderedInFloatingPoint();
    void zeroOrEmptyMapIsBlack();
};

void tst_ErrorMapPicture::levelsFollowTheIntegerRule_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("blue");
    // Largest value 10: level = trunc(v) * 255 / 10, truncated.
    QTest::newRow("largest") << 10.0f << 255;
    QTest::newRow("half") << 5.0f << 127;
    QTest::newRow("truncated before scaling") << 4.9f << 102;
    QTest::newRow("zero") << 0.0f << 0;
}

void tst_ErrorMapPicture::levelsFollowTheIntegerRule() {
    QFETCH(float, value);
    QFETCH(int, blue);
    const QImage image = lumetra::errorMapImage(rowMap({10.0f, value}));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(image.pixel(1, 0), qRgb(0, 0, blue));
}

void tst_ErrorMapPicture::pictureIsColsWideAndRowsHigh() {
    Array<float> map(2, 3);
    map(1, 2) = 7.0f;  // the only non-zero value: full blue at x = 2, y = 1
    const QImage image = lumetra::errorMapImage(map);
    QCOMPARE(image.size(), QSize(3, 2));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const QRgb expected = (x == 2 && y == 1) ? qRgb(0, 0, 255) : qRgb(0, 0, 0);
            QCOMPARE(image.pixel(x, y), expected);
        }
    }
}

void tst_ErrorMapPicture::largestBelowThreeGivesFourLevels() {
    const QImage image = lumetra::errorMapImage(rowMap({0.5f, 1.2f, 2.9f, 3.7f}));
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(1, 0), qRgb(0, 0, 85));
    QCOMPARE(image.pixel(2, 0), qRgb(0, 0, 170));
    QCOMPARE(image.pixel(3, 0), qRgb(0, 0, 255));
}

void tst_ErrorMapPicture::faintMapIsRenderedInFloatingPoint() {
    // Largest 0.5: level = v * 255 / 0.5, truncated, so 0.25 -> 127.5 -> 127.
    const QImage image = lumetra::errorMapImage(rowMap({0.5f, 0.25f, 0.0f}));
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 255));
    QCOMPARE(image.pixel(1, 0), qRgb(0, 0, 127));
    QCOMPARE(image.pixel(2, 0), qRgb(0, 0, 0));
}

void tst_ErrorMapPicture::zeroOrEmptyMapIsBlack() {
    const QImage zero = lumetra::errorMapImage(Array<float>(2, 2));
    QCOMPARE(zero.size(), QSize(2, 2));
    QCOMPARE(zero.pixel(1, 1), qRgb(0, 0, 0));
    QVERIFY(lumetra::errorMapImage(Array<float>()).isNull());
    // A NaN never becomes the largest value, so it cannot blank the real errors.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    QCOMPARE(lumetra::errorMapImage(rowMap({2.0f, nan, 1.0f})).pixel(2, 0), qRgb(0, 0, 127));
}

QTEST_APPLESS_MAIN(tst_ErrorMapPicture)
#include "tst_ErrorMapPicture.moc"
