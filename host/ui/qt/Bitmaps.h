#pragma once

// The named bitmaps of the resources, drawn from vector drawings: <resource directory>/bitmaps/
// <name>.svg, scaled into the control's rectangle with their aspect ratio kept and centred. A
// bitmap without a drawing (no file, or not a drawing) shows as a neutral framed box with its
// name, and the problem is reported once per drawing.
//
//   ui::qt::BitmapLibrary bitmaps([](std::string_view problem) { ... });
//   bitmaps.Paint(painter, rect, "TO_MOTORSETUP");
//   button->setIcon(QIcon(bitmaps.Render("TO_MOTORSETUP", QSize(24, 16), 1.0)));

#include <QPixmap>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class QPainter;
class QSvgRenderer;

namespace ui::qt {

class BitmapLibrary {
  public:
    using ProblemSink = std::function<void(std::string_view problem)>;

    explicit BitmapLibrary(ProblemSink report);
    ~BitmapLibrary();
    BitmapLibrary(const BitmapLibrary&) = delete;
    BitmapLibrary& operator=(const BitmapLibrary&) = delete;

    // Whether the bitmap has a drawing; looks it up (reporting a missing one the first time).
    bool HasDrawing(const std::string& name);
    void Paint(QPainter& painter, const QRectF& target, const std::string& name);
    // The bitmap drawn on a transparent pixmap of that size (in device-independent pixels).
    QPixmap Render(const std::string& name, QSize size, qreal devicePixelRatio);

  private:
    // The drawing of the bitmap in the current resource directory, or null.
    QSvgRenderer* Find(const std::string& name);

    ProblemSink report_;
    // By file path; null for a drawing that could not be loaded.
    std::map<std::string, std::unique_ptr<QSvgRenderer>> drawings_;
};

// A picture control: draws its bitmap over the dialog's background.
class PictureWidget : public QWidget {
  public:
    PictureWidget(BitmapLibrary& bitmaps, QWidget* parent);

    void SetBitmap(const std::string& name);
    const std::string& Bitmap() const { return bitmap_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    BitmapLibrary& bitmaps_;
    std::string bitmap_;
};

}  // namespace ui::qt
