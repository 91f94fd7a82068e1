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
        return n >= 0 && n < names.size() ? names.at(n) : QString();
    }
    // The screens are now these, named so (by default "fake0", "fake1", ...).
    void change(const QList<QRect> &now, const QStringList &named = {})
    {
        rects = now;
        reported = now.size();
        names = named.isEmpty() ? defaultNames(now.size()) : named;
        emit changed();
    }

    mutable QList<int> asked;

private:
    static QStringList defaultNames(int n)
    {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << QStringLiteral("fake%1").arg(i);
        return out;
    }

    QList<QRect> rects;
    int reported;
    QStringList names = defaultNames(rects.size());
};
