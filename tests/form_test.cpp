// The main form as the form file builds it: its components, captions, tab order and layout.
// (window_session_test clicks every button and checks that each runs its own handler.)
#include "Unit1.h"
#include "window_test_support.h"

#include <QMetaProperty>

#include <gtest/gtest.h>

#include <array>
#include <utility>

namespace {

class FormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureWidgetApplication(); }

    std::array<TButton *, 6> Buttons() const
    {
        return {form.Button1, form.Button2, form.Button3, form.Button4, form.Button5, form.Button6};
    }

    TForm1 form;
};

TEST_F(FormTest, DeclaresItsThirteenComponentsInOrder)
{
    const std::pair<const char *, const char *> expected[] = {
        {"OpenPictureDialog1", "TOpenPictureDialog"}, {"Image1", "TImage"},   {"Button1", "TButton"},
        {"Button2", "TButton"},   {"Button3", "TButton"}, {"Button4", "TButton"},
        {"SavePictureDialog1", "TSavePictureDialog"}, {"Button5", "TButton"}, {"Image2", "TImage"},
        {"Image3", "TImage"},     {"Image4", "TImage"},   {"Button6", "TButton"},
        {"Image5", "TImage"}};
    const QMetaObject &meta = TForm1::staticMetaObject;
    ASSERT_EQ(meta.propertyCount() - meta.propertyOffset(), 13);
    for (int i = 0; i < 13; ++i) {
        const QMetaProperty property = meta.property(meta.propertyOffset() + i);
        const auto [name, className] = expected[i];
        EXPECT_STREQ(property.name(), name);
        QObject *component = property.read(&form).value<QObject *>();
        ASSERT_NE(component, nullptr) << name;
        EXPECT_STREQ(component->metaObject()->className(), className);
        EXPECT_EQ(component->objectName(), name);
        EXPECT_EQ(form.findChild<QObject *>(name), component) << name << " is not one of the form's children";
    }
}

TEST_F(FormTest, ButtonsHaveTheirCaptionsAndTabOrder)
{
    EXPECT_EQ(form.windowTitle(), "Form1");
    const char *captions[] = {"Picture1", "Picture2", "Picture3", "Save", "Add", "Process"};
    const auto buttons = Buttons();
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(buttons[i]->Caption(), captions[i]);
        EXPECT_EQ(buttons[i]->TabOrder(), i);
        if (i + 1 < 6) {
            EXPECT_EQ(buttons[i]->nextInFocusChain(), buttons[i + 1]) << "Tab after " << captions[i];
        }
    }
}

TEST_F(FormTest, AllButtonsStayVisibleAtTheDesignedAndASmallSize)
{
    form.show();
    for (const QSize size : {QSize(1023, 697), QSize(640, 420)}) {
        form.resize(size);
        QApplication::processEvents();
        for (const TButton *button : Buttons()) {
            const QRect onForm(button->mapTo(&form, QPoint(0, 0)), button->size());
            EXPECT_TRUE(button->isVisible());
            EXPECT_TRUE(form.rect().contains(onForm))
                << button->Caption().toStdString() << " outside the " << size.width() << " x " << size.height() << " form";
        }
    }
}

} // namespace
