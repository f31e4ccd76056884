// A graph control's widget: paints the primitives of its plot in the form's font and shows the
// reading under the pointer as a tooltip. It never takes the focus, so a tick that repaints it
// leaves the focus where the user put it.
#include "window.h"

#include "text.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace window_system::qt {

namespace {

class GraphWidget : public QWidget {
public:
    GraphWidget(const Graph& graph, QWidget* parent) : QWidget(parent), graph_(graph) {
        setMouseTracking(true);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        const QFontMetrics metrics = fontMetrics();
        for (const Primitive& p : draw(graph_.plot(), canvas())) {
            painter.setPen(QColor(red_of(p.colour), green_of(p.colour), blue_of(p.colour)));
            if (p.kind == Primitive::Kind::line) {
                painter.drawLine(p.x1, p.y1, p.x2, p.y2);
                continue;
            }
            const QString s = text(p.text);
            const int x = p.right_aligned ? p.x1 - metrics.horizontalAdvance(s) : p.x1;
            painter.drawText(x, p.y1 + metrics.ascent(), s);
        }
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        const std::string at =
            describe_at(graph_.plot(), canvas(), event->position().toPoint().x());
        if (at.empty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPosition().toPoint(), text(at), this);
    }

private:
    Canvas canvas() const {
        const QFontMetrics metrics = fontMetrics();
        return {width(), height(), metrics.height(), std::max(1, metrics.averageCharWidth())};
    }

    const Graph& graph_;
};

} // namespace

QWidget* make_graph_widget(const Graph& graph, QWidget* parent) {
    return new GraphWidget(graph, parent);
}

} // namespace window_system::qt
