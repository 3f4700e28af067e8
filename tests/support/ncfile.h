// Reading a netCDF file in tests, through the netCDF library.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

struct NcAttribute {
    std::string name;
    int type = 0;  // nc_type
    std::string text;
    std::vector<double> numbers;
};

struct NcVariable {
    std::string name;
    int type = 0;
    std::vector<std::string> dims;
    std::vector<NcAttribute> attributes;
    const NcAttribute* attribute(const std::string& name) const;
    std::vector<std::string> attributeNames() const;
};

// The text of an attribute, "(none)" when the variable or the attribute is absent.
std::string attributeText(const NcVariable* v, const char* name);

class NcFile {
public:
    explicit NcFile(const QString& path);
    ~NcFile();
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;

    bool ok() const { return m_id >= 0; }
    int format() const;
    int globalAttributeCount() const;
    // The file's own attributes, as those of a variable without a name.
    const NcVariable& globals() const { return m_globals; }
    // Dimensions in definition order: name and length.
    std::vector<std::pair<std::string, size_t>> dims() const;
    std::vector<NcVariable> variables() const;
    std::vector<std::string> variableNames() const;
    const NcVariable* variable(const std::string& name) const;
    std::vector<float> floats(const std::string& name) const;
    std::vector<int> ints(const std::string& name) const;
    // Deflate level of a variable, 0 when not compressed; shuffle in *shuffle.
    int deflateLevel(const std::string& name, int* shuffle = nullptr) const;

private:
    int m_id = -1;
    std::vector<NcVariable> m_vars;
    NcVariable m_globals;
};
