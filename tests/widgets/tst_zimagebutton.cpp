// The image button, driven with real events on the offscreen platform. Test images are solid
// colours per frame, so the painted result shows which state image (and which pixels of the
// strip) the button drew.
#include "ZImageButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVector>
#include <QtTest>

#include <cstddef>
#include <cstring>

using ZUILIB::ZImageButton;

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);
const QColor kCyan(0, 255, 255);
const QColor kMagenta(255, 0, 255);
const QColor kOrange(255, 128, 0);
const QColor kPurple(128, 0, 128);

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

class PressRecorder : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

QImage shot(QWidget &w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Number of pixels in area that are not exactly colour.
int countOther(const QImage &img, const QRect &area, const QColor &colour)
{
    int other = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (img.pixelColor(x, y) != colour) {
                ++other;
            }
        }
    }
    return other;
}

int countExact(const QImage &img, const QRect &area, const QColor &colour)
{
    return area.width() * area.height() - countOther(img, area, colour);
}

// The area whose pixels are exactly colour (null when none is).
QRect boundsOf(const QImage &img, const QColor &colour)
{
    QRect bounds;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (img.pixelColor(x, y) == colour) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

#if defined(_MSC_VER)
constexpr bool kItaniumAbi = false;
#else
constexpr bool kItaniumAbi = true;
#endif

// Byte offset of a virtual function in its class's vtable: in the Itanium C++ ABI a pointer to a
// virtual member function holds 1 + that offset in its first word.
template <typename MemberFunction> std::ptrdiff_t vtableOffset(MemberFunction f)
{
    static_assert(sizeof(f) == 2 * sizeof(std::ptrdiff_t), "two-word member pointers");
    std::ptrdiff_t words[2];
    std::memcpy(words, &f, sizeof(f));
    return words[0] - 1;
}

// Reaches the protected members for the vtable check.
class ButtonProbe : public ZImageButton
{
public:
    static QVector<std::ptrdiff_t> addedVirtuals()
    {
        using StripForm = void (ZImageButton::*)(const QString &, int);
        using FileForm = void (ZImageButton::*)(const QString &, const QString &, const QString &,
                                                const QString &);
        return {vtableOffset(&ButtonProbe::nextCheckState), // the base's last virtual
                vtableOffset(static_cast<StripForm>(&ZImageButton::setImage)),
                vtableOffset(static_cast<FileForm>(&ZImageButton::setImage)),
                vtableOffset(&ZImageButton::setChecked),
                vtableOffset(&ButtonProbe::updateDrawRect)};
    }
};

void enter(QWidget &w)
{
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), w.mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(&w, &e);
}

void leave(QWidget &w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}

void focusOut(QWidget &w)
{
    QFocusEvent e(QEvent::FocusOut);
    QApplication::sendEvent(&w, &e);
}

} // namespace

class TestZImageButton : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // Frames of frameWidth x height side by side, one solid colour each.
    QString strip(const QString &name, const QVector<QColor> &frames, int frameWidth,
                  int height = 26)
    {
        QImage img(frameWidth * frames.size(), height, QImage::Format_RGB32);
        for (int i = 0; i < frames.size(); ++i) {
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < frameWidth; ++x) {
                    img.setPixelColor(i * frameWidth + x, y, frames[i]);
                }
            }
        }
        const QString path = m_dir.filePath(name + QStringLiteral(".png"));
        if (!img.save(path)) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }

    QString solid(const QString &name, QSize size, const QColor &colour)
    {
        return strip(name, {colour}, size.width(), size.height());
    }

    // A shown 88x26 button with the 352x26 four-frame strip: disabled red, normal green,
    // hover blue, pressed yellow.
    void prepare(ZImageButton &b)
    {
        b.resize(88, 26);
        b.setImage(strip("four", {kRed, kGreen, kBlue, kYellow}, 88), 4);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
    }

    // Pixels of the button's image showing colour; the whole 88x26 when it fills the button.
    static int shows(ZImageButton &b, const QColor &colour)
    {
        return countExact(shot(b), b.rect(), colour);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void construction()
    {
        ZImageButton b(nullptr);
        QCOMPARE(b.metaObject()->className(), "ZUILIB::ZImageButton");
        QVERIFY(b.inherits("QPushButton"));
        QCOMPARE(qobject_cast<ZImageButton *>(static_cast<QObject *>(&b)), &b);
        // No signals, slots or properties of its own.
        QCOMPARE(b.metaObject()->methodCount(), QPushButton::staticMetaObject.methodCount());
        QCOMPARE(b.metaObject()->propertyCount(), QPushButton::staticMetaObject.propertyCount());

        QVERIFY(b.hasMouseTracking());
        QPushButton plain;
        QCOMPARE(b.focusPolicy(), plain.focusPolicy());
        QCOMPARE(b.isFlat(), plain.isFlat());

        QCOMPARE(b.id(), -1);
        b.setID(7);
        QCOMPARE(b.id(), 7);

        int w = -1, h = -1;
        b.getImgSize(w, h);
        QCOMPARE(w, 0);
        QCOMPARE(h, 0);
        QVERIFY(b.styleSheet().isEmpty());
    }

    // Code built against the exported class calls the four added virtuals by slot: they follow
    // the base's slots in this order.
    void addedVirtualsOrder()
    {
        if (!kItaniumAbi) {
            QSKIP("reads member pointers as laid out by the Itanium C++ ABI");
        }
        const QVector<std::ptrdiff_t> offsets = ButtonProbe::addedVirtuals();
        for (int i = 1; i < offsets.size(); ++i) {
            QCOMPARE(offsets[i], offsets[i - 1] + std::ptrdiff_t(sizeof(void *)));
        }
    }

    void stripCut()
    {
        ZImageButton b(nullptr);
        prepare(b);
        int w = 0, h = 0;
        b.getImgSize(w, h);
        QCOMPARE(w, 88);
        QCOMPARE(h, 26);

        // Every pixel of the 88x26 button shows one frame: a cut off by one column would let a
        // neighbour's colour in.
        QCOMPARE(shows(b, kGreen), 88 * 26);
        enter(b);
        QCOMPARE(shows(b, kBlue), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kYellow), 88 * 26);
        b.setEnabled(false);
        QCOMPARE(shows(b, kRed), 88 * 26);
        b.setEnabled(true);
        QCOMPARE(shows(b, kGreen), 88 * 26);

        // Three frames: normal, hover, pressed; the disabled image keeps the red frame.
        b.setImage(strip("three", {kCyan, kMagenta, kOrange}, 88), 3);
        QCOMPARE(shows(b, kCyan), 88 * 26);
        enter(b);
        QCOMPARE(shows(b, kMagenta), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kOrange), 88 * 26);
        b.setDisabled(true);
        QCOMPARE(shows(b, kRed), 88 * 26);
        b.setDisabled(false);
        QCOMPARE(shows(b, kCyan), 88 * 26);

        // More than four frames: the first four are used as for four, the rest ignored.
        b.setImage(strip("six", {kPurple, kBlue, kGreen, kRed, kYellow, kYellow}, 88), 6);
        QCOMPARE(shows(b, kBlue), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kRed), 88 * 26);
        b.setEnabled(false);
        QCOMPARE(shows(b, kPurple), 88 * 26);
    }

    void stripPaths()
    {
        ZImageButton b(nullptr);
        // 401 wide: the 117-wide cut below lies 1:1 in the draw rectangle.
        b.resize(401, 40);
        b.setImage(strip("four", {kRed, kGreen, kBlue, kYellow}, 88), 4);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        QCoreApplication::processEvents();
        PaintCounter counter;
        b.installEventFilter(&counter);

        // An empty path stores only the frame count, and still asks for a repaint.
        b.setImage(QString(), 3);
        QCOMPARE(counter.paints, 0);
        QTRY_COMPARE(counter.paints, 1);
        int w = 0, h = 0;
        b.getImgSize(w, h);
        QCOMPARE(w, 88);
        QCOMPARE(countExact(shot(b), QRect(156, 7, 89, 26), kGreen), 89 * 26);
        // setChecked(true) loads the checked strip, which nothing sets: the images stay.
        b.setChecked(true);
        b.getImgSize(w, h);
        QCOMPARE(w, 88);
        // The stored strip is cut again with the new count: frames of 352 / 3 = 117.
        b.setChecked(false);
        b.getImgSize(w, h);
        QCOMPARE(w, 117);
        QCOMPARE(h, 26);
        const QImage threeCut = shot(b);
        // normal = x 0-116 of the strip: 88 red columns, then 29 green ones.
        QCOMPARE(countExact(threeCut, QRect(142, 7, 88, 26), kRed), 88 * 26);
        QCOMPARE(countExact(threeCut, QRect(230, 7, 29, 26), kGreen), 29 * 26);

        // A path that does not load empties the covered images and is stored: once a file
        // appears there, setChecked(false) cuts it.
        const QString later = m_dir.filePath("later.png");
        b.setImage(later, 4);
        b.getImgSize(w, h);
        QCOMPARE(w, 0);
        QCOMPARE(h, 0);
        for (const QColor &c : {kRed, kGreen, kBlue, kYellow}) {
            QCOMPARE(countExact(shot(b), b.rect(), c), 0);
        }
        b.setEnabled(false);
        QCOMPARE(countExact(shot(b), b.rect(), kRed), 0);
        b.setEnabled(true);

        QVERIFY(QFile::copy(strip("laterSource", {kPurple, kCyan, kMagenta, kOrange}, 51), later));
        b.setChecked(false);
        QCOMPARE(countExact(shot(b), b.rect(), kCyan), 51 * 26);

        // setChecked with a strip that does not load leaves the images as they are.
        QVERIFY(QFile::remove(later));
        b.setChecked(false);
        QCOMPARE(countExact(shot(b), b.rect(), kCyan), 51 * 26);
    }

    // Counts that ask for frames beyond the strip, or frames of width 0, read nothing outside
    // the strip; those images come out empty.
    void shortStrips()
    {
        ZImageButton b(nullptr);
        prepare(b);
        b.setText(QString());

        b.setImage(strip("two", {kCyan, kMagenta}, 88), 2);
        QCOMPARE(shows(b, kCyan), 88 * 26);
        enter(b);
        QCOMPARE(shows(b, kMagenta), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        const QImage pressedTwo = shot(b);
        for (const QColor &c : {kCyan, kMagenta, kYellow, QColor(Qt::black)}) {
            QCOMPARE(countExact(pressedTwo, b.rect(), c), 0);
        }

        b.setImage(strip("one", {kOrange}, 88), 1);
        QCOMPARE(shows(b, kOrange), 0); // still pressed: that image is empty
        leave(b);
        QCOMPARE(shows(b, kOrange), 88 * 26);
        enter(b);
        QCOMPARE(shows(b, kOrange), 0);
        b.setEnabled(false); // one frame leaves the disabled image alone
        QCOMPARE(shows(b, kRed), 88 * 26);
        b.setEnabled(true);

        // Wider count than pixels, and a count of 0: frames of width 0, nothing cut.
        b.setImage(strip("narrow", {kPurple}, 3), 4);
        b.setImage(strip("narrow", {kPurple}, 3), 0);
        int w = -1, h = -1;
        b.getImgSize(w, h);
        QCOMPARE(w, 0);
        QCOMPARE(h, 0);
        QCOMPARE(shows(b, kPurple), 0);
    }

    void fourFileForm()
    {
        ZImageButton b(nullptr);
        b.resize(88, 26);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        QCoreApplication::processEvents();
        PaintCounter counter;
        b.installEventFilter(&counter);

        const QSize size(88, 26);
        b.setImage(solid("n", size, kGreen), solid("h", size, kBlue), solid("p", size, kYellow),
                   solid("d", size, kRed));
        int w = 0, h = 0;
        b.getImgSize(w, h);
        QCOMPARE(w, 88);
        QCOMPARE(h, 26);
        // No repaint is asked for; the next paint shows the new images.
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);
        QCOMPARE(shows(b, kGreen), 88 * 26);
        enter(b);
        QCOMPARE(shows(b, kBlue), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kYellow), 88 * 26);
        b.setEnabled(false);
        QCOMPARE(shows(b, kRed), 88 * 26);
        b.setEnabled(true);

        // Empty arguments keep their images; a file that does not load empties only its own.
        b.setImage(QString(), solid("h2", size, kCyan), m_dir.filePath("missing.png"), QString());
        QCOMPARE(shows(b, kGreen), 88 * 26);
        enter(b);
        QCOMPARE(shows(b, kCyan), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kYellow), 0);
        b.setEnabled(false);
        QCOMPARE(shows(b, kRed), 88 * 26);
    }

    void layout_data()
    {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QSize>("button");
        QTest::addColumn<QSize>("laidOut");
        QTest::addColumn<QRect>("drawRect");

        QTest::newRow("scaled by half") << QSize(76, 38) << QSize(38, 38) << QSize(38, 19)
                                        << QRect(QPoint(0, 9), QPoint(37, 28));
        QTest::newRow("fits, not scaled")
            << QSize(40, 20) << QSize(88, 26) << QSize(40, 20) << QRect(24, 3, 40, 20);
        QTest::newRow("odd free space")
            << QSize(41, 19) << QSize(88, 26) << QSize(41, 19) << QRect(23, 3, 42, 20);
        QTest::newRow("smaller is never scaled up")
            << QSize(10, 10) << QSize(30, 30) << QSize(10, 10) << QRect(10, 10, 10, 10);
        // 13/22 in single precision, times 22, is just below 13: truncated to 12.
        QTest::newRow("single-precision width")
            << QSize(22, 5) << QSize(13, 10) << QSize(12, 2) << QRect(0, 4, 13, 2);
        // 12/22 in single precision, times 55, is just above 30.
        QTest::newRow("single-precision height")
            << QSize(22, 55) << QSize(12, 55) << QSize(12, 30) << QRect(0, 12, 12, 31);
    }

    void layout()
    {
        QFETCH(QSize, image);
        QFETCH(QSize, button);
        QFETCH(QSize, laidOut);
        QFETCH(QRect, drawRect);

        ZImageButton b(nullptr);
        b.resize(button);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        b.setImage(solid("layout", image, kBlue), QString(), QString(), QString());

        int w = 0, h = 0;
        b.getImgSize(w, h);
        QCOMPARE(QSize(w, h), laidOut);
        // The normal image is stretched over exactly the draw rectangle.
        QCOMPARE(boundsOf(shot(b), kBlue), drawRect);

        // Resizing lays out again.
        b.resize(image * 2);
        QCoreApplication::processEvents();
        b.getImgSize(w, h);
        QCOMPARE(QSize(w, h), image);
        const QPoint margins(image.width() / 2, image.height() / 2);
        QCOMPARE(boundsOf(shot(b), kBlue),
                 QRect(margins, QPoint(image.width() * 2 - 1, image.height() * 2 - 1) - margins));
    }

    void mouse()
    {
        PressRecorder parent;
        parent.resize(200, 100);
        ZImageButton b(&parent);
        b.setGeometry(10, 10, 88, 26);
        b.setImage(strip("four", {kRed, kGreen, kBlue, kYellow}, 88), 4);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QSignalSpy clicked(&b, &QAbstractButton::clicked);
        QSignalSpy pressed(&b, &QAbstractButton::pressed);
        QSignalSpy released(&b, &QAbstractButton::released);

        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kYellow), 88 * 26);
        QTest::mouseRelease(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kBlue), 88 * 26); // released: hover
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toBool(), false);

        // The bottom-right pixel counts as inside; one further does not.
        QTest::mousePress(&b, Qt::LeftButton);
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(87, 25));
        QCOMPARE(clicked.count(), 2);
        QTest::mousePress(&b, Qt::LeftButton);
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(88, 25));
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(shows(b, kBlue), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(-20, -5));
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(shows(b, kBlue), 88 * 26);

        // The base class's press and release handling never runs.
        QCOMPARE(pressed.count(), 0);
        QCOMPARE(released.count(), 0);

        // Other buttons change nothing, and their events stop at the button.
        leave(b);
        QTest::mousePress(&b, Qt::RightButton);
        QCOMPARE(shows(b, kGreen), 88 * 26);
        QTest::mouseRelease(&b, Qt::RightButton);
        QTest::mouseClick(&b, Qt::MiddleButton);
        QCOMPARE(shows(b, kGreen), 88 * 26);
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(parent.presses, 0);

        // Moves do nothing; leaving and losing focus return to normal.
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QTest::mousePress(&b, Qt::LeftButton);
        QApplication::sendEvent(&b, &move);
        QCOMPARE(shows(b, kYellow), 88 * 26);
        leave(b);
        QCOMPARE(shows(b, kGreen), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        focusOut(b);
        QCOMPARE(shows(b, kGreen), 88 * 26);

        // The keyboard stays the base class's: it clicks without moving the draw state.
        QTest::keyClick(&b, Qt::Key_Space);
        QCOMPARE(clicked.count(), 3);
        QCOMPARE(shows(b, kGreen), 88 * 26);
    }

    void hover()
    {
        ZImageButton b(nullptr);
        prepare(b);
        QCoreApplication::processEvents();
        PaintCounter counter;
        b.installEventFilter(&counter);

        // Entering paints at once, before the event loop runs again.
        b.setCursor(Qt::PointingHandCursor);
        enter(b);
        QCOMPARE(counter.paints, 1);
        QCOMPARE(b.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(shows(b, kBlue), 88 * 26);
        // Leaving only schedules a repaint.
        counter.paints = 0;
        leave(b);
        QCOMPARE(counter.paints, 0);
        QTRY_COMPARE(counter.paints, 1);
        QCOMPARE(shows(b, kGreen), 88 * 26);

        // Hover switched off: entering keeps the state, a release still shows the hover image
        // until the pointer leaves.
        b.setHoverEnabled(false);
        counter.paints = 0;
        b.setCursor(Qt::PointingHandCursor);
        enter(b);
        QCOMPARE(counter.paints, 0);
        QCOMPARE(b.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(shows(b, kGreen), 88 * 26);
        QTest::mouseClick(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kBlue), 88 * 26);
        leave(b);
        QCOMPARE(shows(b, kGreen), 88 * 26);

        // Switching hover off does not leave the current state.
        b.setHoverEnabled(true);
        enter(b);
        b.setHoverEnabled(false);
        QCOMPARE(shows(b, kBlue), 88 * 26);
    }

    void disabled()
    {
        ZImageButton b(nullptr);
        prepare(b);
        QSignalSpy clicked(&b, &QAbstractButton::clicked);

        b.setEnabled(false);
        QVERIFY(!b.isEnabled());
        QCOMPARE(shows(b, kRed), 88 * 26);

        // Enabled again behind the class's back (through QWidget) the widget receives events,
        // but the draw state stays disabled until this class's own setEnabled.
        static_cast<QWidget &>(b).setEnabled(true);
        QVERIFY(b.isEnabled());
        enter(b);
        QCOMPARE(shows(b, kRed), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kRed), 88 * 26);
        QTest::mouseRelease(&b, Qt::LeftButton);
        leave(b);
        focusOut(b);
        QCOMPARE(shows(b, kRed), 88 * 26);
        QCOMPARE(clicked.count(), 0);

        b.setDisabled(false);
        QCOMPARE(shows(b, kGreen), 88 * 26);
        b.setDisabled(true);
        QVERIFY(!b.isEnabled());
        QCOMPARE(shows(b, kRed), 88 * 26);
        b.setEnabled(true);
        QCOMPARE(shows(b, kGreen), 88 * 26);

        // Disabled through QWidget: the image stays normal.
        static_cast<QWidget &>(b).setEnabled(false);
        QCOMPARE(shows(b, kGreen), 88 * 26);
    }

    void checkable()
    {
        ZImageButton b(nullptr);
        prepare(b);
        b.setCheckable(true);
        QSignalSpy clicked(&b, &QAbstractButton::clicked);
        QSignalSpy toggled(&b, &QAbstractButton::toggled);

        QTest::mouseClick(&b, Qt::LeftButton);
        QVERIFY(b.isChecked());
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toBool(), false);

        // Checked: at rest the pressed image, while pressed the normal one, hover stays hover.
        QCOMPARE(shows(b, kBlue), 88 * 26);
        leave(b);
        QCOMPARE(shows(b, kYellow), 88 * 26);
        QTest::mousePress(&b, Qt::LeftButton);
        QCOMPARE(shows(b, kGreen), 88 * 26);

        QTest::mouseRelease(&b, Qt::LeftButton);
        QVERIFY(!b.isChecked());
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(clicked.at(1).at(0).toBool(), false);
        leave(b);
        QCOMPARE(shows(b, kGreen), 88 * 26);

        // A release outside toggles nothing.
        QTest::mousePress(&b, Qt::LeftButton);
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(100, 5));
        QVERIFY(!b.isChecked());
        QCOMPARE(toggled.count(), 2);

        // Not checkable: a click emits but never checks.
        b.setCheckable(false);
        QTest::mouseClick(&b, Qt::LeftButton);
        QVERIFY(!b.isChecked());
        QCOMPARE(clicked.count(), 3);
    }

    void text()
    {
        ZImageButton b(nullptr);
        prepare(b);
        QFont font = b.font();
        font.setPixelSize(16);
        font.setBold(true);
        b.setFont(font);

        // No text: the image alone.
        QCOMPARE(shows(b, kGreen), 88 * 26);

        b.setText(QStringLiteral("HHH"));
        const QColor white(255, 255, 255), black(0, 0, 0), grey(96, 100, 112);
        QImage img = shot(b);
        QVERIFY(countExact(img, b.rect(), white) > 20);
        // Centred in the draw rectangle by default.
        const QRect glyphs = boundsOf(img, white);
        QVERIFY2(qAbs(glyphs.center().x() - 44) <= 2 && qAbs(glyphs.center().y() - 13) <= 2,
                 qPrintable(QStringLiteral("text centre %1,%2")
                                .arg(glyphs.center().x())
                                .arg(glyphs.center().y())));

        b.setTextAlignment(Qt::AlignLeft);
        b.update();
        QVERIFY(boundsOf(shot(b), white).left() <= 3);
        b.setTextAlignment(Qt::AlignCenter);

        b.setCheckable(true);
        b.setChecked(true);
        img = shot(b);
        QVERIFY(countExact(img, b.rect(), black) > 20);
        QCOMPARE(countExact(img, b.rect(), white), 0);
        b.setChecked(false);

        // The text colour follows the real enabled state: grey over the normal image when the
        // widget is disabled through QWidget.
        static_cast<QWidget &>(b).setEnabled(false);
        img = shot(b);
        QVERIFY(countExact(img, b.rect(), grey) > 20);
        QCOMPARE(countExact(img, b.rect(), white), 0);
        QVERIFY(countExact(img, b.rect(), kGreen) > 0);
        static_cast<QWidget &>(b).setEnabled(true);

        // Disabled with no disabled image (three frames on a fresh button): only the text.
        ZImageButton fresh(nullptr);
        fresh.resize(88, 26);
        fresh.setFont(font);
        fresh.setText(QStringLiteral("HHH"));
        fresh.setImage(strip("three", {kCyan, kMagenta, kOrange}, 88), 3);
        fresh.setEnabled(false);
        img = shot(fresh);
        QVERIFY(countExact(img, fresh.rect(), grey) > 20);
        for (const QColor &c : {kCyan, kMagenta, kOrange}) {
            QCOMPARE(countExact(img, fresh.rect(), c), 0);
        }

        // The kept text colours do not change the painting.
        QColor a(1, 2, 3), c2(4, 5, 6), c3(7, 8, 9), c4(10, 11, 12);
        b.setTextColor(a, c2, c3, c4);
        QVERIFY(countExact(shot(b), b.rect(), white) > 20);
    }

    void backgroundStyleSheet()
    {
        const QString tabs = QStringLiteral("\t\t\t\t\t\t\t");
        const auto sheet = [&](const char *bg, const char *border, int width) {
            return QStringLiteral("background-color: %1; ").arg(QLatin1String(bg)) + tabs +
                   QStringLiteral("border-color: %1; ").arg(QLatin1String(border)) + tabs +
                   QStringLiteral("border-width: %1px; ").arg(width) + tabs +
                   QStringLiteral("border-style: dashed;");
        };
        // The format itself is 102 characters; with the defaults it becomes 111.
        QCOMPARE(sheet("%1", "%2", 0).size() - 1 + 2, 102);

        ZImageButton b(nullptr);
        b.resize(88, 26);
        b.setImage(solid("small", QSize(40, 20), kGreen), QString(), QString(), QString());
        b.useBackGroundColor(true);
        QCOMPARE(b.styleSheet(), sheet("#343a48", "#40485b", 2));
        QCOMPARE(b.styleSheet().size(), 111);
        // The styled button lies under the image: background in the margin, image on top.
        const QColor borderColour(64, 72, 91);
        QImage img = shot(b);
        QCOMPARE(img.pixelColor(12, 13), QColor(52, 58, 72));
        QVERIFY(countExact(img, b.rect(), borderColour) > 20);
        QCOMPARE(countExact(img, QRect(24, 3, 40, 20), kGreen), 40 * 20);

        // While the background is off, setters only store; switching it on applies them.
        ZImageButton form(nullptr);
        form.setStyleSheet(QStringLiteral("border: none;"));
        form.setBackGroundColor(QColor(0x12, 0xab, 0xef));
        form.setBorder(QColor(Qt::white), 5);
        QCOMPARE(form.styleSheet(), QStringLiteral("border: none;"));
        form.useBackGroundColor(true);
        QCOMPARE(form.styleSheet(), sheet("#12abef", "#ffffff", 5));
        form.setBorder(QColor(1, 2, 3), 10);
        QCOMPARE(form.styleSheet(), sheet("#12abef", "#010203", 10));

        // Off again: the last sheet stays, only the push button's own painting stops.
        b.useBackGroundColor(false);
        QCOMPARE(b.styleSheet(), sheet("#343a48", "#40485b", 2));
        img = shot(b);
        QCOMPARE(countExact(img, b.rect(), borderColour), 0);
        QCOMPARE(countExact(img, QRect(24, 3, 40, 20), kGreen), 40 * 20);
    }
};

QTEST_MAIN(TestZImageButton)
#include "tst_zimagebutton.moc"
