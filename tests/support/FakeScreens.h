#pragma once

#include "ScreenProvider.h"

#include <QList>
#include <QRect>

// A desktop with the given screens: screen i is rects[i], named "fake<i>", the default screen
// is rects[0], and a number beyond the list has an empty rectangle, as the desktop object
// answers. `reported` overrides the screen count (e.g. more screens than rectangles). Records
// the numbers asked; change() is a desktop whose screens changed.
class FakeScreens : public ScreenProvider
{
public:
    explicit FakeScreens(const QList<QRect> &rects, int reported = -1)
        : rects(rects), reported(reported < 0 ? rects.size() : reported)
    {
    }

    int numScreens() const override { return reported; }
    QRect screenGeometry(int screen) const override
    {
        asked.append(screen);
        const int n = screen == -1 ? 0 : screen;
        return n >= 0 && n < rects.size() ? rects.at(n) : QRect();
    }
    QString screenName(int screen) const override
    {
        const int n = screen == -1 ? 0 : screen;
        return n >= 0 && n < rects.size() ? QStringLiteral("fake%1").arg(n) : QString();
    }
    // The screens are now these.
    void change(const QList<QRect> &now)
    {
        rects = now;
        reported = now.size();
        emit changed();
    }

    mutable QList<int> asked;

private:
    QList<QRect> rects;
    int reported;
};
