#pragma once

#include <QTcpServer>

#include <memory>
#include <vector>

// Listens on every loopback port from first to last, so that the code under test has to look further.
// A port some other process holds ends the test with the name and PID of that process.
std::vector<std::unique_ptr<QTcpServer>> holdPorts(quint16 first, quint16 last);
