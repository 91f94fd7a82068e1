// The form as the window receives it, directly after setupUi and before the controller's
// own steps: which widgets exist, in which order, where, how they are styled and what they say.
#include "ui_Norvane.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QtTest>

namespace {

QStringList comboItems(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Records the calls that QMetaObject::connectSlotsByName would route to it.
class AutoConnectedWindow : public QWidget
{
    Q_OBJECT
public:
    int screenChanges = 0;
    int sendClicks = 0;
public slots:
    void on_screenCmb_currentIndexChanged(int) { ++screenChanges; }
    void on_sendButton_clicked() { ++sendClicks; }
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT
private slots:
    void namesOnlyAnUnnamedWindow();
    void textsAndItems();
    void widgetsInCreationOrder();
    void stackingWhereRateAndUnitOverlap();
    void geometryAndStyleSheet_data();
    void geometryAndStyleSheet();
    void furtherProperties();
    void styleSheetsTakeEffect();
    void slotsByNameConnectAfterTheTexts();
};

void TestForm::namesOnlyAnUnnamedWindow()
{
    QWidget unnamed;
    Ui_NorvaneClass a;
    a.setupUi(&unnamed);
    QCOMPARE(unnamed.objectName(), QString("NorvaneClass"));

    QWidget named;
    named.setObjectName("mainWindow");
    Ui_NorvaneClass b;
    b.setupUi(&named);
    QCOMPARE(named.objectName(), QString("mainWindow"));
}

void TestForm::textsAndItems()
{
    QWidget w;
    Ui_NorvaneClass ui;
    ui.setupUi(&w);

    QCOMPARE(w.windowTitle(), QString("Norvane"));
    QCOMPARE(ui.label_5->text(), QString("Pravik NDI 发送端"));
    // one space, a full-width colon, three spaces
    QCOMPARE(ui.label_2->text(), QString::fromUtf8("\xE5\xA3\xB0\xE9\x9F\xB3 \xEF\xBC\x9A   "));
    QCOMPARE(ui.sendButton->text(), QString("开始发送"));
    QCOMPARE(ui.fpsLable->text(), QString("0"));
    QCOMPARE(ui.label->text(), QString("选择屏幕："));
    QCOMPARE(ui.fpsLable_2->text(), QString("帧/秒"));
    QCOMPARE(ui.label_3->text(), QString("当前帧率："));
    for (const QLabel *empty : {ui.label_4, ui.label_6, ui.label_7})
        QVERIFY2(empty->text().isEmpty(), qPrintable(empty->objectName()));
    QVERIFY(ui.closeButton->text().isEmpty());

    QCOMPARE(comboItems(ui.screenCmb), QStringList{"屏幕1"});
    QCOMPARE(comboItems(ui.audioCmb), QStringList{"无"});
    QCOMPARE(ui.screenCmb->currentIndex(), 0);
    QCOMPARE(ui.audioCmb->currentIndex(), 0);
}

void TestForm::widgetsInCreationOrder()
{
    QWidget w;
    Ui_NorvaneClass ui;
    ui.setupUi(&w);

    // The frame is the window's only child; everything else sits in the frame.
    const QList<QWidget *> top = w.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(top.size(), 1);
    QCOMPARE(top.first(), static_cast<QWidget *>(ui.frame));

    // Members in declaration order, which must be the order of creation, and so of stacking.
    const QList<QWidget *> members = {ui.label_5,    ui.label_4,    ui.label_2, ui.closeButton,
                                      ui.sendButton, ui.fpsLable,   ui.label,   ui.screenCmb,
                                      ui.audioCmb,   ui.fpsLable_2, ui.label_3, ui.label_6,
                                      ui.label_7};
    const QList<QWidget *> children =
        ui.frame->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(children, members);

    const QStringList names = {"label_5",  "label_4", "label_2",   "closeButton", "sendButton",
                               "fpsLable", "label",   "screenCmb", "audioCmb",    "fpsLable_2",
                               "label_3",  "label_6", "label_7"};
    for (int i = 0; i < members.size(); ++i) {
        QCOMPARE(members[i]->objectName(), names[i]);
        QCOMPARE(members[i]->parentWidget(), static_cast<QWidget *>(ui.frame));
    }
    QCOMPARE(ui.frame->objectName(), QString("frame"));

    // Nothing is hidden yet: hiding the audio row is the controller's step, not the form's.
    for (const QWidget *child : w.findChildren<QWidget *>())
        QVERIFY2(!child->isHidden(), qPrintable(child->objectName()));
}

void TestForm::stackingWhereRateAndUnitOverlap()
{
    QWidget w;
    Ui_NorvaneClass ui;
    ui.setupUi(&w);

    const QRect overlap = ui.fpsLable->geometry() & ui.fpsLable_2->geometry();
    QCOMPARE(overlap, QRect(250, 190, 3, 21));
    QCOMPARE(ui.frame->childAt(overlap.center()), static_cast<QWidget *>(ui.fpsLable_2));
    QCOMPARE(ui.frame->childAt(QPoint(240, 200)), static_cast<QWidget *>(ui.fpsLable));
}

void TestForm::geometryAndStyleSheet_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("styleSheet");
    const auto row = [](const char *name, const char *className, const QRect &geometry,
                        const char *sheet) {
        QTest::newRow(name) << QString(className) << geometry << QString::fromUtf8(sheet);
    };
    row("frame", "QFrame", QRect(10, 5, 450, 310),
        "#frame{border:1px solid rgb(47, 56, 78);}  \n"
        "QComboBox {\n"
        "      border: 1px solid rgb(62,68,83);\n"
        "      border-radius: 2px;\n"
        "      min-width: 4em;\n"
        "  }\n"
        "\t\n"
        "\n"
        "  QComboBox::drop-down {\n"
        "      subcontrol-origin: padding;\n"
        "      subcontrol-position: top right;\n"
        "      width: 18px;\n"
        "\t height:18px;\n"
        "      border-left-width: 0px;\n"
        "      border-top-right-radius: 2px; /* same radius as the QComboBox */\n"
        "      border-bottom-right-radius: 2px;\n"
        "\t  margin-top:1px;\n"
        "\t  margin-right:1px;\n"
        "  }\n"
        "\n"
        "  QComboBox::down-arrow {\n"
        "      image:url(:/Norvane/Resources/btnCmb1.png);\n"
        "  }\n"
        "  \n"
        "  QComboBox::down-arrow:hover {\n"
        "     image:url(:/Norvane/Resources/btnCmb2.png);\n"
        "  }\n"
        "  \n"
        "  QComboBox::disabled{\n"
        "  color:gray;}");
    row("label_5", "QLabel", QRect(40, 10, 201, 21),
        "font: 75 12pt \"Arial\";\n"
        "color: rgb(241, 238, 238);\n"
        "        ");
    row("label_4", "QLabel", QRect(1, 10, 31, 21), "image: url(:/Norvane/Resources/NDILog.png);");
    row("label_2", "QLabel", QRect(81, 140, 61, 20),
        "\n"
        "          font: 11pt \"Agency FB\";\n"
        "        color: rgb(241, 238, 238);\n"
        "        ");
    row("closeButton", "ZUILIB::ZImageButton", QRect(405, 2, 38, 38),
        "color: rgb(255, 255, 255);\n"
        "font: 75 12pt \"Arial\";\n"
        "      \n"
        "        ");
    row("sendButton", "ZUILIB::ZImageButton", QRect(332, 275, 88, 26),
        "color: rgb(255, 255, 255);\n"
        "font: 11pt \"Agency FB\";\n"
        "        \n"
        "         \n"
        "         \n"
        "        ");
    row("fpsLable", "QLabel", QRect(232, 190, 21, 21),
        "font: 11pt \"Agency FB\";\n"
        "color: rgba(187, 187, 187, 125);");
    row("label", "QLabel", QRect(10, 100, 111, 21),
        "\n"
        "          font: 11pt \"Agency FB\";\n"
        "          color: rgb(241, 238, 238);\n"
        "        ");
    row("screenCmb", "QComboBox", QRect(130, 100, 281, 22),
        "\n"
        "          font: 11pt \"Agency FB\";\n"
        "         \n"
        "background-color: rgb(42, 46, 58);\n"
        "          \n"
        "color: rgb(238, 238, 238);\n"
        "        ");
    row("audioCmb", "QComboBox", QRect(130, 140, 281, 22),
        "\n"
        "          font: 11pt \"Agency FB\";\n"
        "        \n"
        "background-color: rgb(42, 46, 58);\n"
        "          \n"
        "color: rgb(238, 238, 238);");
    row("fpsLable_2", "QLabel", QRect(250, 190, 161, 21),
        "font: 11pt \"Agency FB\";\n"
        "color: rgba(187, 187, 187, 125);\n"
        "        ");
    row("label_3", "QLabel", QRect(62, 190, 161, 21),
        "font: 11pt \"Agency FB\";\n"
        "color: rgba(187, 187, 187, 125);");
    row("label_6", "QLabel", QRect(0, 265, 450, 1), "background-color: rgb(47, 56, 78);");
    row("label_7", "QLabel", QRect(0, 45, 450, 1),
        "\n"
        "\n"
        "background-color: rgb(47, 56, 78);");
}

void TestForm::geometryAndStyleSheet()
{
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, styleSheet);

    QWidget w;
    Ui_NorvaneClass ui;
    ui.setupUi(&w);
    QCOMPARE(w.size(), QSize(474, 329));
    QCOMPARE(w.styleSheet(), QString::fromUtf8("\n"
                                               "        background-color: rgb(25,30,42);\n"
                                               "        color: rgb(255, 255, 255);\n"
                                               "      "));

    const QWidget *widget = w.findChild<QWidget *>(QTest::currentDataTag());
    QVERIFY(widget);
    QCOMPARE(QString(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->styleSheet(), styleSheet);
}

void TestForm::furtherProperties()
{
    QWidget w;
    Ui_NorvaneClass ui;
    ui.setupUi(&w);

    QCOMPARE(ui.frame->frameShape(), QFrame::StyledPanel);
    QCOMPARE(ui.frame->frameShadow(), QFrame::Raised);
    QVERIFY(!ui.closeButton->isFlat());
    QVERIFY(!ui.sendButton->isFlat());

    const Qt::Alignment rightMiddle = Qt::AlignRight | Qt::AlignVCenter;
    QCOMPARE(int(rightMiddle), 0x82);
    QCOMPARE(ui.label->alignment(), rightMiddle);
    QCOMPARE(ui.label_3->alignment(), rightMiddle);
    QCOMPARE(ui.fpsLable->alignment(), QLabel().alignment());

    for (const QComboBox *combo : {ui.screenCmb, ui.audioCmb}) {
        const QSizePolicy policy = combo->sizePolicy();
        QCOMPARE(policy.horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(policy.verticalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(policy.horizontalStretch(), 0);
        QCOMPARE(policy.verticalStretch(), 0);
        QCOMPARE(policy.controlType(), QSizePolicy::DefaultType);
        QVERIFY(!policy.hasHeightForWidth());
    }
}

// A quote or brace out of place makes Qt drop a whole sheet without a word; the fonts and
// colours the sheets ask for show that each one parsed.
void TestForm::styleSheetsTakeEffect()
{
    QWidget w;
    Ui_NorvaneClass ui;
    ui.setupUi(&w);
    w.ensurePolished();
    for (QWidget *child : w.findChildren<QWidget *>())
        child->ensurePolished();

    QCOMPARE(ui.label_5->font().family(), QString("Arial"));
    QCOMPARE(ui.label_5->font().pointSize(), 12);
    QCOMPARE(ui.closeButton->font().family(), QString("Arial"));
    for (QWidget *agency : QList<QWidget *>{ui.label_2, ui.sendButton, ui.fpsLable, ui.label,
                                            ui.screenCmb, ui.audioCmb, ui.fpsLable_2, ui.label_3}) {
        QCOMPARE(agency->font().family(), QString("Agency FB"));
        QCOMPARE(agency->font().pointSize(), 11);
    }
    QCOMPARE(ui.label_5->palette().color(QPalette::WindowText), QColor(241, 238, 238));
    QCOMPARE(ui.fpsLable->palette().color(QPalette::WindowText), QColor(187, 187, 187, 125));
    QCOMPARE(ui.screenCmb->palette().color(QPalette::Text), QColor(238, 238, 238));
    QCOMPARE(ui.frame->palette().color(QPalette::Window), QColor(25, 30, 42));
    QCOMPARE(ui.frame->palette().color(QPalette::WindowText), QColor(255, 255, 255));
}

void TestForm::slotsByNameConnectAfterTheTexts()
{
    AutoConnectedWindow w;
    Ui_NorvaneClass ui;
    ui.setupUi(&w);

    // The placeholder item went in before connectSlotsByName ran, so it reached no slot ...
    QCOMPARE(w.screenChanges, 0);
    // ... but the form does hand on_<object>_<signal> slots their connections.
    ui.screenCmb->addItem("second");
    ui.screenCmb->setCurrentIndex(1);
    QCOMPARE(w.screenChanges, 1);
    emit ui.sendButton->clicked();
    QCOMPARE(w.sendClicks, 1);
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
