#include "ZImageButton.h"

#include <QCursor>
#include <QEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>

#include <algorithm>

namespace ZUILIB {

namespace {

// The part of the strip under one frame. A frame that does not lie wholly inside the strip
// yields a null pixmap rather than QPixmap::copy's zero fill, and an empty frame yields a null
// pixmap rather than QPixmap::copy's "empty rectangle means the whole pixmap".
QPixmap copyFrame(const QPixmap &strip, const QRect &frame)
{
    if (frame.isEmpty() || !strip.rect().contains(frame)) {
        return QPixmap();
    }
    return strip.copy(frame);
}

} // namespace

ZImageButton::ZImageButton(QWidget *parent)
    : QPushButton(parent), m_id(-1), m_hoverEnabled(true), m_textAlignment(Qt::AlignCenter),
      m_frameCount(4), m_textColors{QColor(238, 238, 238), QColor(238, 238, 238),
                                    QColor(238, 238, 238), QColor(123, 123, 125)},
      m_imgWidth(0), m_imgHeight(0), m_marginX(0), m_marginY(0), m_drawState(Normal),
      m_useBackGroundColor(false), m_backGroundColor(52, 58, 72), m_borderColor(64, 72, 91),
      m_borderWidth(2)
{
    setAttribute(Qt::WA_MouseTracking, true);
}

ZImageButton::~ZImageButton() = default;

void ZImageButton::setImage(const QString &path, int frameCount)
{
    m_frameCount = frameCount;
    m_stripPixmap.load(path);
    if (!path.isEmpty()) {
        // Cut even when the load failed: a path that does not load empties the images.
        cutStrip();
        m_imagePath = path;
    }
    update();
}

void ZImageButton::setImage(const QString &normal, const QString &hover, const QString &pressed,
                            const QString &disabled)
{
    if (!normal.isEmpty()) {
        m_normalPixmap.load(normal);
    }
    if (!hover.isEmpty()) {
        m_hoverPixmap.load(hover);
    }
    if (!pressed.isEmpty()) {
        m_pressedPixmap.load(pressed);
    }
    if (!disabled.isEmpty()) {
        m_disabledPixmap.load(disabled);
    }
    if (!normal.isEmpty()) {
        updateDrawRect();
    }
}

void ZImageButton::setChecked(bool checked)
{
    QAbstractButton::setChecked(checked);
    m_stripPixmap.load(checked ? m_checkedImagePath : m_imagePath);
    if (m_stripPixmap.isNull()) {
        return;
    }
    cutStrip();
}

void ZImageButton::cutStrip()
{
    const int stripHeight = m_stripPixmap.height();
    // A count below 1 is a caller's error; frames of width 0 keep it from dividing by zero.
    const int frameWidth = m_frameCount > 0 ? m_stripPixmap.width() / m_frameCount : 0;
    m_imgWidth = frameWidth;
    m_imgHeight = stripHeight;

    QRect frame(0, 0, frameWidth, stripHeight);
    if (m_frameCount > 3) {
        m_disabledPixmap = copyFrame(m_stripPixmap, frame);
        frame.translate(frameWidth, 0);
    }
    m_normalPixmap = copyFrame(m_stripPixmap, frame);
    frame.translate(frameWidth, 0);
    m_hoverPixmap = copyFrame(m_stripPixmap, frame);
    frame.translate(frameWidth, 0);
    m_pressedPixmap = copyFrame(m_stripPixmap, frame);

    updateDrawRect();
}

void ZImageButton::setEnabled(bool enable)
{
    QWidget::setEnabled(enable);
    m_drawState = enable ? Normal : Disabled;
    update();
}

void ZImageButton::setDisabled(bool disable)
{
    QWidget::setDisabled(disable);
    m_drawState = disable ? Disabled : Normal;
    update();
}

void ZImageButton::setHoverEnabled(bool enable)
{
    m_hoverEnabled = enable;
}

void ZImageButton::setID(int id)
{
    m_id = id;
}

int ZImageButton::id()
{
    return m_id;
}

void ZImageButton::getImgSize(int &width, int &height)
{
    width = m_imgWidth;
    height = m_imgHeight;
}

void ZImageButton::setTextAlignment(Qt::AlignmentFlag alignment)
{
    m_textAlignment = alignment;
}

void ZImageButton::setTextColor(QColor &normal, QColor &hover, QColor &pressed, QColor &disabled)
{
    m_textColors[0] = normal;
    m_textColors[1] = hover;
    m_textColors[2] = pressed;
    m_textColors[3] = disabled;
    update();
}

void ZImageButton::setBackGroundColor(const QColor &color)
{
    m_backGroundColor = color;
    updateBackGroundColor();
}

void ZImageButton::setBorder(const QColor &color, int width)
{
    m_borderColor = color;
    m_borderWidth = width;
    updateBackGroundColor();
}

void ZImageButton::useBackGroundColor(bool use)
{
    m_useBackGroundColor = use;
    updateBackGroundColor();
}

void ZImageButton::updateDrawRect()
{
    m_drawRect = rect();
    m_imgWidth = m_normalPixmap.width();
    m_imgHeight = m_normalPixmap.height();

    if (width() < m_imgWidth || height() < m_imgHeight) {
        // Single precision on purpose: the truncated sizes must come out the same everywhere.
        const float scale =
            std::min(static_cast<float>(width()) / static_cast<float>(m_imgWidth),
                     static_cast<float>(height()) / static_cast<float>(m_imgHeight));
        m_imgWidth = static_cast<int>(static_cast<float>(m_imgWidth) * scale);
        m_imgHeight = static_cast<int>(static_cast<float>(m_imgHeight) * scale);
    }

    m_marginX = (width() - m_imgWidth) / 2;
    m_marginY = (height() - m_imgHeight) / 2;
    m_drawRect.adjust(m_marginX, m_marginY, -m_marginX, -m_marginY);
    m_textRect = m_drawRect;
}

void ZImageButton::updateBackGroundColor()
{
    if (!m_useBackGroundColor) {
        return;
    }
    const QString sheet = QStringLiteral("background-color: %1; \t\t\t\t\t\t\t"
                                         "border-color: %2; \t\t\t\t\t\t\t"
                                         "border-width: %3px; \t\t\t\t\t\t\t"
                                         "border-style: dashed;")
                              .arg(m_backGroundColor.name())
                              .arg(m_borderColor.name())
                              .arg(m_borderWidth);
    setStyleSheet(sheet);
}

void ZImageButton::paintEvent(QPaintEvent *event)
{
    if (m_useBackGroundColor) {
        // The styled push button (background and dashed border) lies under the image.
        QPushButton::paintEvent(event);
    }

    QPainter painter(this);
    // On a scaled desktop the images are stretched to the screen's pixels: smoothly, or they
    // come out jagged. At 100% they are drawn as they are.
    if (devicePixelRatioF() != 1.0)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const bool checked = isChecked();
    switch (m_drawState) {
    case Normal:
        painter.drawPixmap(m_drawRect, checked ? m_pressedPixmap : m_normalPixmap);
        break;
    case Hover:
        painter.drawPixmap(m_drawRect, m_hoverPixmap);
        break;
    case Pressed:
        painter.drawPixmap(m_drawRect, checked ? m_normalPixmap : m_pressedPixmap);
        break;
    case Disabled:
        if (m_disabledPixmap.width() > 0) {
            painter.drawPixmap(m_drawRect, m_disabledPixmap);
        }
        break;
    }

    const QString label = text();
    if (!label.isEmpty()) {
        painter.save();
        // The text follows the widget's real enabled state, the image follows the draw state.
        if (!isEnabled()) {
            painter.setPen(QColor(96, 100, 112));
        } else if (checked) {
            painter.setPen(QColor(0, 0, 0));
        } else {
            painter.setPen(QColor(255, 255, 255));
        }
        painter.drawText(m_textRect, m_textAlignment, label);
        painter.restore();
    }
    event->accept();
}

void ZImageButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_drawState != Disabled) {
        m_drawState = Pressed;
        update();
    }
    // Accepted in every case, so no press reaches the parent.
    event->accept();
}

void ZImageButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_drawState != Disabled) {
        m_drawState = Hover;
        update();
        if (rect().contains(event->pos())) {
            if (isCheckable()) {
                setChecked(!isChecked());
            }
            emit clicked(false);
        }
    }
    event->accept();
}

void ZImageButton::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void ZImageButton::focusOutEvent(QFocusEvent *event)
{
    if (m_drawState != Disabled) {
        m_drawState = Normal;
        update();
    }
    QPushButton::focusOutEvent(event);
}

void ZImageButton::enterEvent(QEvent *event)
{
    Q_UNUSED(event)
    if (m_hoverEnabled && m_drawState != Disabled) {
        m_drawState = Hover;
        // At once rather than deferred, so the hover image shows without waiting for the loop.
        repaint();
    }
    setCursor(QCursor(Qt::ArrowCursor));
}

void ZImageButton::leaveEvent(QEvent *event)
{
    Q_UNUSED(event)
    if (m_drawState != Disabled) {
        m_drawState = Normal;
        update();
    }
}

void ZImageButton::resizeEvent(QResizeEvent *event)
{
    updateDrawRect();
    QWidget::resizeEvent(event);
}

} // namespace ZUILIB
