#include "common/MMControls.h"

#include <gtest/gtest.h>

#include <QPalette>
#include <QScrollBar>

namespace {

// A panel as the main window builds its frames.
void MakeFrame(TMMCustomPanel& p, TBevelCut outer, TBevelCut inner, TBorderStyle style, int border) {
    p.Bevel()->SetBevelOuter(outer);
    p.Bevel()->SetBevelInner(inner);
    p.Bevel()->SetBorderStyle(style);
    p.Bevel()->SetBorderWidth(border);
}

}  // namespace

TEST(MMCustomPanelTest, ChildrenAreLaidOutInsideTheFrame) {
    TMMCustomPanel panel;
    MakeFrame(panel, bvRaised, bvLowered, bsSingle, 3);
    panel.resize(549, 281);
    EXPECT_EQ(panel.BevelExtent(), 6);

    auto* upper = new TMMGraphicControl(&panel);
    auto* lower = new TMMGraphicControl(&panel);
    upper->SetAlign(alClient);
    lower->resize(10, 100);
    lower->SetAlign(alBottom);
    EXPECT_EQ(lower->geometry(), QRect(6, 175, 537, 100));
    EXPECT_EQ(upper->geometry(), QRect(6, 6, 537, 169));
    panel.show();  // a hidden widget hears of its new size only when shown

    // Hidden children leave their place to the others.
    lower->SetVisible(false);
    EXPECT_EQ(upper->geometry(), QRect(6, 6, 537, 269));
    lower->SetVisible(true);
    EXPECT_EQ(upper->geometry(), QRect(6, 6, 537, 169));

    // A new height of a docked child moves its neighbours.
    lower->resize(537, 50);
    EXPECT_EQ(lower->geometry(), QRect(6, 225, 537, 50));
    EXPECT_EQ(upper->geometry(), QRect(6, 6, 537, 219));

    // A bevel change realigns; the frame grows by two on every side.
    panel.Bevel()->SetBorderWidth(5);
    EXPECT_EQ(upper->geometry(), QRect(8, 8, 533, 215));

    // And so does a new size of the panel.
    panel.resize(300, 200);
    EXPECT_EQ(lower->geometry(), QRect(8, 142, 284, 50));
    EXPECT_EQ(upper->geometry(), QRect(8, 8, 284, 134));

    // A space bevel counts too, though it paints nothing.
    panel.Bevel()->SetBevelInner(bvSpace);
    panel.Bevel()->SetBevelInnerWidth(4);
    EXPECT_EQ(upper->geometry().topLeft(), QPoint(11, 11));
}

TEST(MMCustomPanelTest, DockingOrderFollowsPositionThenCreation) {
    TMMCustomPanel status;
    MakeFrame(status, bvNone, bvNone, bsNone, 1);
    status.resize(300, 32);
    // Three cells docked right, designed left to right, docked in one pass.
    status.DisableAlign();
    auto* sample = new TMMCustomPanel(&status);
    auto* time = new TMMCustomPanel(&status);
    auto* size = new TMMCustomPanel(&status);
    sample->setGeometry(87, 1, 69, 10);
    time->setGeometry(156, 1, 68, 10);
    size->setGeometry(224, 1, 75, 10);
    for (auto* cell : {sample, time, size}) cell->SetAlign(alRight);
    EXPECT_EQ(sample->geometry(), QRect(87, 1, 69, 10));
    status.EnableAlign();
    EXPECT_EQ(size->geometry(), QRect(299 - 75, 1, 75, 30));
    EXPECT_EQ(time->geometry(), QRect(299 - 75 - 68, 1, 68, 30));
    EXPECT_EQ(sample->geometry(), QRect(299 - 75 - 68 - 69, 1, 69, 30));

    // The scroll bar placed at top 1 docks above the bottom panel already there.
    QWidget area;
    area.resize(400, 300);
    auto* bottomPanel = new TMMCustomPanel(&area);
    bottomPanel->resize(400, 76);
    bottomPanel->SetAlign(alBottom);
    auto* bar = new QScrollBar(Qt::Horizontal, &area);
    bar->setGeometry(1, 1, 100, 17);
    SetControlAlign(bar, alBottom);
    EXPECT_EQ(bottomPanel->geometry(), QRect(0, 224, 400, 76));
    EXPECT_EQ(bar->geometry(), QRect(0, 207, 400, 17));
    auto* client = new TMMCustomPanel(&area);
    client->SetAlign(alClient);
    EXPECT_EQ(client->geometry(), QRect(0, 0, 400, 207));

    // Top and left docks take the space first, in their own order.
    auto* left = new TMMCustomPanel(&area);
    left->resize(50, 1);
    left->SetAlign(alLeft);
    auto* top = new TMMCustomPanel(&area);
    top->resize(1, 20);
    top->SetAlign(alTop);
    EXPECT_EQ(top->geometry(), QRect(0, 0, 400, 20));
    EXPECT_EQ(left->geometry(), QRect(0, 20, 50, 187));
    EXPECT_EQ(client->geometry(), QRect(50, 20, 350, 187));

    // Undocked, a control keeps its place and no longer takes space.
    bar->move(5, 5);
    SetControlAlign(bar, alNone);
    EXPECT_EQ(bar->geometry(), QRect(5, 5, 400, 17));
    EXPECT_EQ(client->geometry(), QRect(50, 20, 350, 204));
}

TEST(MMCustomPanelTest, ControlDockedBeforeItHasAParentIsAlignedWhenItGetsOne) {
    TMMCustomPanel outer;
    outer.resize(100, 60);
    auto* inner = new TMMCustomPanel;
    inner->SetAlign(alClient);
    inner->setParent(&outer);
    EXPECT_EQ(inner->geometry(), QRect(1, 1, 98, 58));
}

TEST(MMCustomPanelTest, ControlRefusingItsSizeKeepsTheRestInPlace) {
    struct Stubborn : TMMGraphicControl {
        void SetBounds(int l, int t, int w, int h) override {
            TMMGraphicControl::SetBounds(l, t, w, std::max(h, 40));
        }
    };
    QWidget area;
    area.resize(100, 100);
    auto* bottom = new Stubborn;
    bottom->setParent(&area);
    bottom->resize(100, 10);
    bottom->SetAlign(alBottom);
    auto* rest = new TMMGraphicControl(&area);
    rest->SetAlign(alClient);
    EXPECT_EQ(bottom->geometry(), QRect(0, 60, 100, 40));
    EXPECT_EQ(rest->geometry(), QRect(0, 0, 100, 60));
}

TEST(MMCustomPanelTest, ParentColorFollowsTheParent) {
    TMMCustomPanel parent;
    EXPECT_EQ(parent.Color(), clBtnFace);
    auto* child = new TMMCustomPanel(&parent);
    child->SetParentColor(true);
    parent.SetColor(clBlack);
    EXPECT_EQ(child->Color(), clBlack);
    child->SetColor(clRed);
    EXPECT_FALSE(child->ParentColor());
    parent.SetColor(clBlue);
    EXPECT_EQ(child->Color(), clRed);

    QWidget plain;
    QPalette pal = plain.palette();
    pal.setColor(QPalette::Window, QColor(1, 2, 3));
    plain.setPalette(pal);
    TMMGraphicControl view(&plain);
    view.SetParentColor(true);
    EXPECT_EQ(view.Color(), RGBColor(1, 2, 3));
}

TEST(MMCustomPanelTest, GraphicControlReactsToItsBevel) {
    struct Counting : TMMGraphicControl {
        int changed = 0;
        void Changed() override { ++changed; }
    } view;
    view.resize(40, 30);
    EXPECT_EQ(view.ClientRect(), QRect(1, 1, 38, 28));
    TMMBevel other;
    other.SetBevelOuter(bvRaised);
    other.SetBevelInner(bvLowered);
    other.SetBorderWidth(2);
    view.SetBevel(other);
    EXPECT_EQ(view.changed, 1);
    EXPECT_EQ(view.BevelExtent(), 4);
    EXPECT_EQ(view.ClientRect(), QRect(4, 4, 32, 22));
    view.Bevel()->SetBorderWidth(2);
    EXPECT_EQ(view.changed, 1);
}

TEST(MMCustomPanelTest, ContainersGoAwayWithDockedChildren) {
    // A shown plain container whose aligner came after its children, and a panel inside it
    // with children of its own: destroying them must not realign into freed children.
    auto* area = new QWidget;
    area->resize(200, 100);
    auto* first = new TMMCustomPanel(area);
    auto* panel = new TMMCustomPanel(area);
    first->resize(10, 20);
    first->SetAlign(alTop);
    panel->SetAlign(alClient);
    auto* inner = new TMMGraphicControl(panel);
    inner->SetAlign(alClient);
    auto* bottom = new TMMGraphicControl(panel);
    bottom->resize(5, 10);
    bottom->SetAlign(alBottom);
    area->show();
    EXPECT_EQ(inner->geometry(), QRect(1, 1, 198, 68));
    delete bottom;  // a removed child gives its place back
    EXPECT_EQ(inner->geometry(), QRect(1, 1, 198, 78));
    delete area;
}

TEST(MMCustomPanelTest, ResizeHandlerMayRemoveASibling) {
    QWidget area;
    area.resize(100, 100);
    auto* top = new TMMCustomPanel(&area);
    auto* client = new TMMCustomPanel(&area);
    top->resize(100, 10);
    top->SetAlign(alTop);
    client->SetAlign(alClient);
    area.show();
    top->OnResize = [&](QObject*) { delete client; client = nullptr; };
    area.resize(120, 100);  // top is placed first; its handler deletes the client panel
    EXPECT_EQ(client, nullptr);
    EXPECT_EQ(top->geometry(), QRect(0, 0, 120, 10));
}
