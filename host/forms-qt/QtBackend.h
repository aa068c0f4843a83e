#pragma once
// The Qt 6 Widgets backend of the forms layer: real windows for the control
// model. Edits, memos, buttons, check boxes, radio buttons and progress bars
// are Qt's own widgets; every other control (labels, panels, group boxes,
// images, page controls, forms) paints itself through QPainter. Text metrics
// come from the fonts ("MS Sans Serif" and "Arial" are shown in Liberation
// Sans, which has the same metrics as Arial).
//
// Every signal and event of Qt reaches the model through
// Application->DispatchEvent, so no exception crosses Qt's event loop.

class QWidget;

namespace orvex {

class TControl;

// Makes the Qt backend the program's forms backend, creating the
// QApplication when there is none yet. Call once, at start-up, before any
// form is shown; QT_QPA_PLATFORM=offscreen runs it without a display.
void UseQtFormsBackend(int& argc, char** argv);

// The widget that shows a control, nullptr before it is shown.
QWidget* QtWidgetOf(TControl* control);

} // namespace orvex
