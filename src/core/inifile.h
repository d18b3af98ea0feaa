#pragma once
// INI files with the rules of Windows profile files: section and key names compared without
// regard to case, the first occurrence wins, blanks around names and values trimmed, a value in
// matching quotes read without them. CR LF and LF are read; LF is written. Lines that are not
// understood (comments, text outside sections) are kept as they are, and every line the program
// does not change is written back byte for byte (also when it is not valid UTF-8). A value that
// would not read back as written (blanks at its ends, or enclosed in matching quotes) is written
// in double quotes.
#include <QString>
#include <QStringList>
#include <vector>

class TIniFile {
public:
    // Reads the file when it exists; a missing file is an empty one. An unreadable file leaves
    // the object empty with LastError set.
    explicit TIniFile(QString path);

    const QString& FileName() const { return mPath; }
    const QString& LastError() const { return mError; }

    bool ValueExists(const QString& section, const QString& key) const;
    bool SectionExists(const QString& section) const;
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // The whole trimmed value must be a decimal integer; anything else gives the default.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // An integer other than 0 is true; an unreadable value gives the default.
    bool ReadBool(const QString& section, const QString& key, bool def) const;
    QStringList ReadSections() const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void EraseSection(const QString& section);

    // Writes the file if anything changed: into a temporary file first, then renamed over the old
    // one, so a crash never leaves a half-written file. False (and LastError) on failure, and
    // always when the existing file could not be read (it would lose its other contents).
    bool UpdateFile();

private:
    struct Line {
        QString text;    // the line as read or written
        QString section; // for a section header: its name
        QString key;     // for a key line: its name
        QString value;   // for a key line: its trimmed value
        QByteArray raw;  // the bytes as read, while the line is unchanged
        bool fromFile = false;
        enum Kind { Other, Section, Key } kind = Other;
    };
    // Index of the section header, or -1.
    int findSection(const QString& section) const;
    // Index of the first key line of the section, or -1.
    int findKey(int sectionLine, const QString& key) const;

    QString mPath;
    QString mError;
    std::vector<Line> mLines;
    bool mDirty = false;
    bool mReadFailed = false;
};

// Converts a whole trimmed text to an integer the way the stored files are read: optional sign and
// decimal digits only. Returns false when the text is not such a number or is out of range.
bool ParseInteger(const QString& text, int* value);
