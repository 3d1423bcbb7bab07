#pragma once

class QFileDevice;

// Hands what the system holds of an open file to the disk, so that a power cut keeps what was
// written before the call. False when the file is not open or the disk refused it.
bool syncToDisk(QFileDevice& file);
