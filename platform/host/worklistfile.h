#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One line of a worklist: an assay of a sample at a rack position.
struct WorklistEntry
{
    QString sample;   // sample number
    QString position; // sample position, A1..A20 or B1..B20
    QString assay;    // item name, e.g. "PT"
    QString dilution; // text as "1/2"
    QString method;   // "光学法", "磁珠法" or empty (the instrument's default)
    int line = 0;     // line in the file it came from (0: built in)
};

// Reading worklists for the command-line host.
//
// File format: UTF-8 text (a byte-order mark is skipped), comma-separated,
// first line the header "sample,position,assay,dilution,method" (names in
// any case and with blanks around them; the method column may be left out).
// Blank lines and lines starting with '#' are skipped. A field may be put in
// double quotes ("" stands for one quote inside). Every entry is checked:
// sample not empty, a known sample position, an assay name of at least two
// letters or digits, a dilution a/b with a value above 0 and at most 1, and
// a method that is empty, "光学法" (also "optical", "L") or "磁珠法" (also
// "bead", "C"). The first fault fails the whole file.
namespace worklistfile {

// The sample positions of the host's rack (A1..A20, B1..B20).
QStringList samplePositions();

// Parses text; on failure returns false and sets *error to a message
// naming the line ("line 3: unknown position 'C7' ...").
bool parse(const QString& text, QList<WorklistEntry>* entries, QString* error);
// Parses the bytes of a file: UTF-8 text, else "not UTF-8 text".
bool parseBytes(const QByteArray& bytes, QList<WorklistEntry>* entries, QString* error);
// Reads and parses a file; the error names the file.
bool read(const QString& fileName, QList<WorklistEntry>* entries, QString* error);

// The built-in demonstration list: PT, APTT, TT and FIB on four samples
// (16 assays) numbered from firstSample on, at positions A1..A4, with
// dilutions from 1/1 to 1/10 and both methods.
QList<WorklistEntry> demo(int firstSample);

} // namespace worklistfile
