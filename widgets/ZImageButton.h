#pragma once

#include "zuilib_global.h"

#include <QColor>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QString>

class QEvent;
class QFocusEvent;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;

namespace ZUILIB {

// A push button drawn from four state images (normal, hover, pressed, disabled) instead of the
// style's button look. The images are cut from one horizontal strip of equal-width frames or
// loaded from four files; the current one is scaled down to fit when needed, centred, and the
// button text is drawn over it.
//
// Strip layout by frame count (frame 0 at the left, each frame strip width / count wide):
//   4 or more: disabled, normal, hover, pressed (frames past the fourth are ignored)
//   3:         normal, hover, pressed; the disabled image keeps what it held
//   2:         normal, hover; the pressed image comes out empty
//   1:         normal (the whole strip); hover and pressed come out empty
// A frame that does not lie wholly inside the strip is never read: its image comes out empty
// (a null pixmap), so in that state only the text is drawn. A count below 1, or one larger
// than the strip's width, gives frames of width 0 and so empties every image the cut covers.
//
// The mouse is handled here rather than by the base class: a left press shows the pressed
// image and a left release inside the button emits clicked(false). setEnabled, setDisabled
// and setChecked hide the base class operations of the same names; only calls made through
// this class move the draw state or reload the strip.
class ZUILIB_EXPORT ZImageButton : public QPushButton
{
    Q_OBJECT

public:
    enum DrawState { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };

    explicit ZImageButton(QWidget *parent = nullptr);
    ~ZImageButton() override;

    // Strip form: cuts the state images from the strip at path, which holds frameCount frames.
    // An empty path only stores the frame count; a path that does not load empties the images
    // the cut covers.
    virtual void setImage(const QString &path, int frameCount);
    // Four-file form: an empty path leaves that image as it is; no repaint is requested.
    virtual void setImage(const QString &normal, const QString &hover, const QString &pressed,
                          const QString &disabled);
    // Sets the checked state, then cuts the stored strip again with the current frame count.
    virtual void setChecked(bool checked);

    void setEnabled(bool enable);
    void setDisabled(bool disable);
    void setHoverEnabled(bool enable);
    void setID(int id);
    int id();
    void getImgSize(int &width, int &height);
    void setTextAlignment(Qt::AlignmentFlag alignment);
    // Kept for callers; the painting does not use them yet.
    void setTextColor(QColor &normal, QColor &hover, QColor &pressed, QColor &disabled);
    void setBackGroundColor(const QColor &color);
    void setBorder(const QColor &color, int width);
    void useBackGroundColor(bool use);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    // Lays the normal image out inside the widget: scaled down to fit, never up, and centred.
    virtual void updateDrawRect();

private:
    void cutStrip();
    void updateBackGroundColor();

    int m_id;
    bool m_hoverEnabled;
    QString m_imagePath;
    QString m_checkedImagePath;
    QPixmap m_normalPixmap;
    QPixmap m_hoverPixmap;
    QPixmap m_pressedPixmap;
    QPixmap m_disabledPixmap;
    QPixmap m_stripPixmap;
    QRect m_drawRect;
    QRect m_textRect;
    int m_textAlignment;
    int m_frameCount;
    QColor m_textColors[4];
    int m_imgWidth;
    int m_imgHeight;
    int m_marginX;
    int m_marginY;
    DrawState m_drawState;
    bool m_useBackGroundColor;
    QColor m_backGroundColor;
    QColor m_borderColor;
    int m_borderWidth;
};

} // namespace ZUILIB
