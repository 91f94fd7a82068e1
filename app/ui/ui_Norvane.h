// The main window's form: fourteen child widgets at fixed positions, no layout managers; the
// look comes from per-widget style sheets. Written in the shape of a uic-generated form so
// that the controller can own it as a plain member and reach each widget by its object name.
#ifndef UI_NORVANE_H
#define UI_NORVANE_H

#include "ZImageButton.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QMetaObject>
#include <QRect>
#include <QSizePolicy>
#include <QString>
#include <QStringList>
#include <QWidget>

QT_BEGIN_NAMESPACE

class Ui_NorvaneClass
{
public:
    // Declared in creation order, which is also the stacking order among siblings.
    QFrame *frame;
    QLabel *label_5;
    QLabel *label_4;
    QLabel *label_2;
    ZUILIB::ZImageButton *closeButton;
    ZUILIB::ZImageButton *sendButton;
    QLabel *fpsLable;
    QLabel *label;
    QComboBox *screenCmb;
    QComboBox *audioCmb;
    QLabel *fpsLable_2;
    QLabel *label_3;
    QLabel *label_6;
    QLabel *label_7;

    void setupUi(QWidget *NorvaneClass)
    {
        if (NorvaneClass->objectName().isEmpty())
            NorvaneClass->setObjectName(QString::fromUtf8("NorvaneClass"));
        NorvaneClass->resize(474, 329);
        NorvaneClass->setStyleSheet(QString::fromUtf8("\n"
                                                      "        background-color: rgb(25,30,42);\n"
                                                      "        color: rgb(255, 255, 255);\n"
                                                      "      "));
        frame = new QFrame(NorvaneClass);
        frame->setObjectName(QString::fromUtf8("frame"));
        frame->setGeometry(QRect(10, 5, 450, 310));
        frame->setStyleSheet(QString::fromUtf8(
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
            "  color:gray;}"));
        frame->setFrameShape(QFrame::StyledPanel);
        frame->setFrameShadow(QFrame::Raised);
        label_5 = new QLabel(frame);
        label_5->setObjectName(QString::fromUtf8("label_5"));
        label_5->setGeometry(QRect(40, 10, 201, 21));
        label_5->setStyleSheet(QString::fromUtf8("font: 75 12pt \"Arial\";\n"
                                                 "color: rgb(241, 238, 238);\n"
                                                 "        "));
        label_4 = new QLabel(frame);
        label_4->setObjectName(QString::fromUtf8("label_4"));
        label_4->setGeometry(QRect(1, 10, 31, 21));
        label_4->setStyleSheet(QString::fromUtf8("image: url(:/Norvane/Resources/NDILog.png);"));
        label_2 = new QLabel(frame);
        label_2->setObjectName(QString::fromUtf8("label_2"));
        label_2->setGeometry(QRect(81, 140, 61, 20));
        label_2->setStyleSheet(QString::fromUtf8("\n"
                                                 "          font: 11pt \"Agency FB\";\n"
                                                 "        color: rgb(241, 238, 238);\n"
                                                 "        "));
        closeButton = new ZUILIB::ZImageButton(frame);
        closeButton->setObjectName(QString::fromUtf8("closeButton"));
        closeButton->setGeometry(QRect(405, 2, 38, 38));
        closeButton->setStyleSheet(QString::fromUtf8("color: rgb(255, 255, 255);\n"
                                                     "font: 75 12pt \"Arial\";\n"
                                                     "      \n"
                                                     "        "));
        closeButton->setFlat(false);
        sendButton = new ZUILIB::ZImageButton(frame);
        sendButton->setObjectName(QString::fromUtf8("sendButton"));
        sendButton->setGeometry(QRect(332, 275, 88, 26));
        sendButton->setStyleSheet(QString::fromUtf8("color: rgb(255, 255, 255);\n"
                                                    "font: 11pt \"Agency FB\";\n"
                                                    "        \n"
                                                    "         \n"
                                                    "         \n"
                                                    "        "));
        fpsLable = new QLabel(frame);
        fpsLable->setObjectName(QString::fromUtf8("fpsLable"));
        fpsLable->setGeometry(QRect(232, 190, 21, 21));
        fpsLable->setStyleSheet(QString::fromUtf8("font: 11pt \"Agency FB\";\n"
                                                  "color: rgba(187, 187, 187, 125);"));
        label = new QLabel(frame);
        label->setObjectName(QString::fromUtf8("label"));
        label->setGeometry(QRect(10, 100, 111, 21));
        label->setStyleSheet(QString::fromUtf8("\n"
                                               "          font: 11pt \"Agency FB\";\n"
                                               "          color: rgb(241, 238, 238);\n"
                                               "        "));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        screenCmb = new QComboBox(frame);
        screenCmb->setObjectName(QString::fromUtf8("screenCmb"));
        screenCmb->setGeometry(QRect(130, 100, 281, 22));
        QSizePolicy sizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        sizePolicy.setHorizontalStretch(0);
        sizePolicy.setVerticalStretch(0);
        sizePolicy.setHeightForWidth(screenCmb->sizePolicy().hasHeightForWidth());
        screenCmb->setSizePolicy(sizePolicy);
        screenCmb->setStyleSheet(QString::fromUtf8("\n"
                                                   "          font: 11pt \"Agency FB\";\n"
                                                   "         \n"
                                                   "background-color: rgb(42, 46, 58);\n"
                                                   "          \n"
                                                   "color: rgb(238, 238, 238);\n"
                                                   "        "));
        audioCmb = new QComboBox(frame);
        audioCmb->setObjectName(QString::fromUtf8("audioCmb"));
        audioCmb->setGeometry(QRect(130, 140, 281, 22));
        sizePolicy.setHeightForWidth(audioCmb->sizePolicy().hasHeightForWidth());
        audioCmb->setSizePolicy(sizePolicy);
        audioCmb->setStyleSheet(QString::fromUtf8("\n"
                                                  "          font: 11pt \"Agency FB\";\n"
                                                  "        \n"
                                                  "background-color: rgb(42, 46, 58);\n"
                                                  "          \n"
                                                  "color: rgb(238, 238, 238);"));
        fpsLable_2 = new QLabel(frame);
        fpsLable_2->setObjectName(QString::fromUtf8("fpsLable_2"));
        fpsLable_2->setGeometry(QRect(250, 190, 161, 21));
        fpsLable_2->setStyleSheet(QString::fromUtf8("font: 11pt \"Agency FB\";\n"
                                                    "color: rgba(187, 187, 187, 125);\n"
                                                    "        "));
        label_3 = new QLabel(frame);
        label_3->setObjectName(QString::fromUtf8("label_3"));
        label_3->setGeometry(QRect(62, 190, 161, 21));
        label_3->setStyleSheet(QString::fromUtf8("font: 11pt \"Agency FB\";\n"
                                                 "color: rgba(187, 187, 187, 125);"));
        label_3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label_6 = new QLabel(frame);
        label_6->setObjectName(QString::fromUtf8("label_6"));
        label_6->setGeometry(QRect(0, 265, 450, 1));
        label_6->setStyleSheet(QString::fromUtf8("background-color: rgb(47, 56, 78);"));
        label_7 = new QLabel(frame);
        label_7->setObjectName(QString::fromUtf8("label_7"));
        label_7->setGeometry(QRect(0, 45, 450, 1));
        label_7->setStyleSheet(QString::fromUtf8("\n"
                                                 "\n"
                                                 "background-color: rgb(47, 56, 78);"));

        retranslateUi(NorvaneClass);

        // The window declares no on_<object>_<signal> slots; its connections are its own.
        QMetaObject::connectSlotsByName(NorvaneClass);
    }

    void retranslateUi(QWidget *NorvaneClass)
    {
        NorvaneClass->setWindowTitle(
            QCoreApplication::translate("NorvaneClass", "Norvane", nullptr));
        label_5->setText(QCoreApplication::translate("NorvaneClass", "Pravik NDI 发送端", nullptr));
        label_4->setText(QString());
        label_2->setText(QCoreApplication::translate("NorvaneClass", "声音 ：   ", nullptr));
        closeButton->setText(QString());
        sendButton->setText(QCoreApplication::translate("NorvaneClass", "开始发送", nullptr));
        fpsLable->setText(QCoreApplication::translate("NorvaneClass", "0", nullptr));
        label->setText(QCoreApplication::translate("NorvaneClass", "选择屏幕：", nullptr));
        screenCmb->clear();
        screenCmb->insertItems(
            0, QStringList() << QCoreApplication::translate("NorvaneClass", "屏幕1", nullptr));
        audioCmb->clear();
        audioCmb->insertItems(0, QStringList()
                                     << QCoreApplication::translate("NorvaneClass", "无", nullptr));
        fpsLable_2->setText(QCoreApplication::translate("NorvaneClass", "帧/秒", nullptr));
        label_3->setText(QCoreApplication::translate("NorvaneClass", "当前帧率：", nullptr));
        label_6->setText(QString());
        label_7->setText(QString());
    }
};

namespace Ui {
class NorvaneClass : public Ui_NorvaneClass
{
};
} // namespace Ui

QT_END_NAMESPACE

#endif // UI_NORVANE_H
