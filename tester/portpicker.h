// "Choose port...": the serial ports this machine has, and which of them a
// port number stands for. The choice is the caller's to keep.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class PortPicker : public QDialog {
    Q_OBJECT
public:
    // One serial port as the system describes it.
    struct Port {
        QString device;  // what opens it: "/dev/ttyUSB0", "COM7"
        QString description, maker, serialNumber;
        QString usbIds;  // "0403:6001", empty for a port not on USB
    };
    static QList<Port> systemPorts();

    // number: the port number being bound; bound: the device it is bound
    // to now, or empty; plain: the device the number names when unbound.
    PortPicker(int number, const QString& bound, const QString& plain, QWidget* parent = nullptr);

    // The ports listed; the system's at first, again on "Refresh".
    void setPorts(const QList<Port>& ports);
    // What to bind the number to once accepted; empty when the number is to
    // name its usual device again.
    QString chosenDevice() const;

    QTableWidget* table() const { return table_; }
    QLineEdit* deviceBox() const { return device_; }
    QPushButton* bindButton() const { return bind_; }
    QPushButton* unbindButton() const { return unbind_; }

    enum Column { DeviceColumn, DescriptionColumn, MakerColumn, SerialColumn, UsbColumn, ColumnCount };

private:
    void selectionToBox();
    void showState();

    QString plain_;
    bool unbind_requested_ = false;
    QTableWidget* table_ = nullptr;
    QLabel* empty_ = nullptr;
    QLineEdit* device_ = nullptr;
    QPushButton* bind_ = nullptr;
    QPushButton* unbind_ = nullptr;
};
