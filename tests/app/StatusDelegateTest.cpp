// The status column's colours and icons: one per kind of row text, readable on light and on
// dark palettes, and put on the cells by the delegate the list uses for that column.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <cmath>

#include "MainFormFixture.h"
#include "app/FavoriteModel.h"
#include "app/StatusDelegate.h"

namespace {

// The contrast ratio of two colours as the web's accessibility guidelines define it.
double Luminance(const QColor& colour) {
    auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}
double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette WithBase(const QColor& base) {
    QPalette palette;
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Text, base.lightnessF() < 0.5 ? Qt::white : Qt::black);
    return palette;
}

// The delegate's look of a cell, as the list's painting asks for it.
class TOpenDelegate : public TStatusDelegate {
  public:
    using TStatusDelegate::initStyleOption;
};

const struct {
    const char* text;
    TStatusKind kind;
} kTexts[] = {
    {"OK", TStatusKind::Alive},          {"2002/10/09; 10:10:10 GMT", TStatusKind::Alive},
    {"FAILED", TStatusKind::Dead},       {"BLOCKED", TStatusKind::Refused},
    {"SKIPPED", TStatusKind::Skipped},   {"???", TStatusKind::Plain},
    {"CHECKING...", TStatusKind::Plain}, {"", TStatusKind::Plain},
};

}  // namespace

TEST(StatusLook, EachRowTextHasItsKindAReadableColourAndAnIcon) {
    const QPalette palettes[] = {WithBase(Qt::white), WithBase(QColor(0xf0, 0xf0, 0xf0)),
                                 WithBase(QColor(0x2a, 0x2a, 0x2a)), WithBase(Qt::black)};
    for (const auto& t : kTexts) {
        SCOPED_TRACE(t.text);
        EXPECT_EQ(StatusKind(t.text), t.kind);
        const bool plain = t.kind == TStatusKind::Plain;
        EXPECT_EQ(StatusIcon(t.kind).isNull(), plain);
        for (const QPalette& palette : palettes) {
            const QColor colour = StatusColor(t.kind, palette);
            EXPECT_EQ(colour.isValid(), !plain);
            if (!plain) {
                EXPECT_GE(Contrast(colour, palette.color(QPalette::Base)), 4.5)
                    << palette.color(QPalette::Base).name().toStdString();
            }
        }
    }
    // The kinds differ from one another in colour on either palette.
    for (const QPalette& palette : {palettes[0], palettes[2]}) {
        const QColor alive = StatusColor(TStatusKind::Alive, palette);
        const QColor dead = StatusColor(TStatusKind::Dead, palette);
        const QColor refused = StatusColor(TStatusKind::Refused, palette);
        const QColor skipped = StatusColor(TStatusKind::Skipped, palette);
        EXPECT_NE(alive, dead);
        EXPECT_NE(dead, refused);
        EXPECT_NE(refused, skipped);
        EXPECT_NE(alive, skipped);
    }
}

TEST_F(MainFormTest, StatusColumnCellsGetTheirColourAndIcon) {
    TMainForm& form = Create(static_cast<int>(std::size(kTexts)));
    for (std::size_t row = 0; row < std::size(kTexts); ++row)
        form.Favorites.SetDatum(row, kTexts[row].text);
    auto* delegate = form.ListView1->itemDelegateForColumn(TFavoriteModel::colDatum);
    ASSERT_NE(dynamic_cast<TStatusDelegate*>(delegate), nullptr);
    EXPECT_EQ(form.ListView1->itemDelegateForColumn(TFavoriteModel::colName), nullptr);
    TOpenDelegate look;
    for (const QColor& base : {QColor(Qt::white), QColor(0x20, 0x20, 0x20)}) {
        for (std::size_t row = 0; row < std::size(kTexts); ++row) {
            SCOPED_TRACE(std::string(kTexts[row].text) + " on " + base.name().toStdString());
            QStyleOptionViewItem option;
            option.palette = WithBase(base);
            const QColor plainText = option.palette.color(QPalette::Text);
            look.initStyleOption(
                &option, form.ListModel->index(static_cast<int>(row), TFavoriteModel::colDatum));
            EXPECT_EQ(option.text, QString::fromUtf8(kTexts[row].text));
            if (kTexts[row].kind == TStatusKind::Plain) {
                EXPECT_EQ(option.palette.color(QPalette::Text), plainText);
                EXPECT_TRUE(option.icon.isNull());
            } else {
                EXPECT_EQ(option.palette.color(QPalette::Text),
                          StatusColor(kTexts[row].kind, option.palette));
                EXPECT_FALSE(option.icon.isNull());
                EXPECT_TRUE(option.features & QStyleOptionViewItem::HasDecoration);
            }
        }
    }
}
