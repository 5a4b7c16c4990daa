#pragma once

#include <QMainWindow>
#include <QString>

class CommsManager;
class QTableWidgetItem;
QT_BEGIN_NAMESPACE
class Ui_MainWindow;
QT_END_NAMESPACE

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private slots:
    void onMainTabChanged(int index);

private:
    void prepareDevicesTable();
    void initializeDeviceConnection();
    void refreshDevicesTable();
    QString deviceDisplayName() const;
    void setDeviceCell(int column, const QString& text, bool centred);

    Ui_MainWindow* ui;
    CommsManager* comms;
};
