#pragma once

#include "ScreenProvider.h"

#include <QList>
#include <QRect>

// A desktop with the given screens: screen i is rects[i], the default screen is rects[0], and
// a number beyond the list has an empty rectangle, as the desktop object answers. `reported`
// overrides the screen count (e.g. more screens than rectangles). Records the numbers asked.
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

    mutable QList<int> asked;

private:
    QList<QRect> rects;
    int reported;
};
