// MainWindow: the Device Updates tab. File selection, the uploads and the
// downloads of update packages join here; until then their buttons do nothing.

#include "mainwindow.h"

void MainWindow::onBrowseClicked()
{
}

void MainWindow::onFetchFwClicked()
{
}

void MainWindow::onStartUpdateClicked()
{
}

void MainWindow::onBrowseAirportsClicked()
{
}

void MainWindow::onFetchAptDbClicked()
{
}

void MainWindow::onStartAirportClicked()
{
}
