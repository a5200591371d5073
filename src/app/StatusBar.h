// A status bar of fixed-width panels, as the desktop's classic status bars have: text panels,
// and panels that their owner draws through OnDrawPanel.
#pragma once

#include <QStatusBar>
#include <functional>
#include <vector>

class TStatusBar : public QStatusBar {
  public:
    // Draws panel `index` into `rect` (the panel's inside, within its frame).
    using TDrawPanelEvent = std::function<void(QPainter&, int index, const QRect& rect)>;

    explicit TStatusBar(QWidget* parent = nullptr);

    // A width of 0 gives the panel the rest of the bar; only the last panel may have it.
    void AddPanel(int width, bool ownerDraw = false);
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int index) const { return panels_.at(index).Text; }
    void SetPanelText(int index, const QString& text);
    // The inside of panel `index`, in the bar's coordinates.
    QRect PanelRect(int index) const;

    TDrawPanelEvent OnDrawPanel;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct TPanel {
        int Width = 0;
        bool OwnerDraw = false;
        QString Text;
    };
    QRect PanelFrame(int index) const;
    void PaintPanel(QPainter& painter, int index);

    std::vector<TPanel> panels_;
};
