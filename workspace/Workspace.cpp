// The workspace file: UTF-8 JSON, keys in this order when written.
//
// {
//   "format": "regprobe-workspace",      what the file is; anything else is refused
//   "version": 1,                        the layout; a newer one is refused
//   "main_window": GEOMETRY,
//   "connections": [RECORD, ...],        the configuration file's records, in its order
//   "windows": [WINDOW, ...],            the test windows, the bottom one first
//   "traffic": {"open": bool, "connection": text (the filter, "" for all),
//               "paused": bool, "geometry": GEOMETRY}
// }
//
// GEOMETRY: {"x", "y", "width", "height": integers (width 0: none kept),
//            "state": "normal" | "maximised" | "minimised"}
//
// WINDOW: {"connection": text (by name, "" for none), "device", "address",
//          "quantity", "write_address", "write_value", "interval": texts as
//          typed in the form, "read_function": a name of kFunctions,
//          "data_type": of kTypes, "write_function": of kWriteFunctions,
//          "polling", "logging": bools, "log_file": text, "chart": bool,
//          "geometry": GEOMETRY}
//
// RECORD: {"name": text, "kind": 1-5, "kind_label": text (written for the
//          reader, ignored when read), then the record's own fields, each
//          named after the member it sets and kept in the archive's type:
//   every kind:  "reserved": text, "tries": WORD, "throw_on_error": BOOL,
//                "modbus_reserved": DWORD
//   kinds 2-5:   "reconnect": BOOL, "host": text, "port": WORD,
//                "timeout_ms": DWORD, "map_server_errors": BOOL,
//                "server_error_base": BYTE
//   kind 5 too:  "ca_file", "cert_file", "key_file": texts
//   kind 1:      "server", "port_name": texts, "com_port", "byte_size",
//                "mode", "stop_bits", "flow_control", "silent_interval",
//                "timeout", "parity", "baud_rate", "error_delay": DWORDs,
//                "tcp_server": {"enabled": WORD flag, "address": text,
//                               "port": DWORD}}
// A BOOL is true or false (1 or 0), the WORD flag true or false (0xFFFF or
// 0); either may be a number instead, which is how a value that is neither
// is kept. Numbers of the other types are integers within their type.
//
// Reading is strict about what it knows (a key missing, of the wrong type
// or out of range is an error naming its place) and ignores keys it does
// not know, so that a version-1 file with more in it still opens.
#include "Workspace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "connections/Connections.h"
#include "platform/Archive.h"
#include "platform/AtomicFile.h"
#include "platform/UniqueFd.h"
#include "testview/FormNames.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr off_t kMaxFileBytes = 16 * 1024 * 1024;

// What went wrong where: the place ("windows[2].quantity") and the fault.
struct CBadPlace {
    std::string strPlace;
    std::string strText;
};

std::string Join(const std::string& strPlace, const std::string& strKey) {
    return strPlace.empty() ? strKey : strPlace + "." + strKey;
}

std::string Indexed(const std::string& strPlace, size_t i) {
    return strPlace + "[" + std::to_string(i) + "]";
}

// The JSON type of a record field: how it is read from and written to the
// archive, and how it shows in the file.
enum class EField {
    TEXT,   // CString
    BYTE,   // BYTE
    WORD,   // WORD
    DWORD,  // DWORD
    BOOL,   // BOOL (an int): true is 1
    FLAG,   // WORD: true is 0xFFFF, as the server's VARIANT_BOOL
};

struct CField {
    const char* pszGroup;  // the object it sits in, null for the record itself
    const char* pszName;
    EField type;
};

constexpr CField kCommonFields[] = {
    {nullptr, "reserved", EField::TEXT},
    {nullptr, "tries", EField::WORD},
    {nullptr, "throw_on_error", EField::BOOL},
    {nullptr, "modbus_reserved", EField::DWORD},
};

constexpr CField kHostFields[] = {
    {nullptr, "reconnect", EField::BOOL},
    {nullptr, "host", EField::TEXT},
    {nullptr, "port", EField::WORD},
    {nullptr, "timeout_ms", EField::DWORD},
    {nullptr, "map_server_errors", EField::BOOL},
    {nullptr, "server_error_base", EField::BYTE},
};

constexpr CField kTlsFields[] = {
    {nullptr, "ca_file", EField::TEXT},
    {nullptr, "cert_file", EField::TEXT},
    {nullptr, "key_file", EField::TEXT},
};

constexpr CField kSerialFields[] = {
    {nullptr, "server", EField::TEXT},        {nullptr, "port_name", EField::TEXT},
    {nullptr, "com_port", EField::DWORD},     {nullptr, "byte_size", EField::DWORD},
    {nullptr, "mode", EField::DWORD},         {nullptr, "stop_bits", EField::DWORD},
    {nullptr, "flow_control", EField::DWORD}, {nullptr, "silent_interval", EField::DWORD},
    {nullptr, "timeout", EField::DWORD},      {nullptr, "parity", EField::DWORD},
    {nullptr, "baud_rate", EField::DWORD},    {nullptr, "error_delay", EField::DWORD},
    {"tcp_server", "enabled", EField::FLAG},  {"tcp_server", "address", EField::TEXT},
    {"tcp_server", "port", EField::DWORD},
};

// The record's fields in archive order for its kind.
std::vector<CField> FieldsOf(WORD nType) {
    std::vector<CField> fields(std::begin(kCommonFields), std::end(kCommonFields));
    if (nType == CONNECTION_LOCAL_DCOM) {
        fields.insert(fields.end(), std::begin(kSerialFields), std::end(kSerialFields));
    } else if (IsHostConnection(nType)) {
        fields.insert(fields.end(), std::begin(kHostFields), std::end(kHostFields));
        if (nType == CONNECTION_TLS) {
            fields.insert(fields.end(), std::begin(kTlsFields), std::end(kTlsFields));
        }
    }
    return fields;
}

// The record's bytes as named fields. A record cut short keeps the fields
// before the cut; the file then fails to load, naming the first missing.
void DecodeRecord(const CByteArray& record, WORD nType, Json& j) {
    CMemFile file(record);
    CArchive ar(&file, CArchive::load);
    try {
        for (const CField& f : FieldsOf(nType)) {
            Json value;
            switch (f.type) {
                case EField::TEXT: {
                    CString s;
                    ar >> s;
                    value = s;
                    break;
                }
                case EField::BYTE: {
                    BYTE n = 0;
                    ar >> n;
                    value = n;
                    break;
                }
                case EField::WORD: {
                    WORD n = 0;
                    ar >> n;
                    value = n;
                    break;
                }
                case EField::DWORD: {
                    DWORD n = 0;
                    ar >> n;
                    value = n;
                    break;
                }
                case EField::BOOL: {
                    int n = 0;
                    ar >> n;
                    value = n == 0 ? Json(false) : n == 1 ? Json(true) : Json(n);
                    break;
                }
                case EField::FLAG: {
                    WORD n = 0;
                    ar >> n;
                    value = n == 0 ? Json(false) : n == 0xFFFF ? Json(true) : Json(n);
                    break;
                }
            }
            (f.pszGroup != nullptr ? j[f.pszGroup] : j)[f.pszName] = std::move(value);
        }
    } catch (CException* e) {
        e->Delete();
    }
}

// Reads the members of one JSON object, each error naming its place.
class CObjectReader {
public:
    CObjectReader(const Json& j, std::string strPlace) : m_j(j), m_strPlace(std::move(strPlace)) {
        if (!m_j.is_object()) {
            throw CBadPlace{m_strPlace, "an object is expected"};
        }
    }

    const std::string& Place() const { return m_strPlace; }

    const Json& Get(const char* pszKey) const {
        const auto it = m_j.find(pszKey);
        if (it == m_j.end()) {
            throw CBadPlace{Join(m_strPlace, pszKey), "missing"};
        }
        return *it;
    }
    CString Text(const char* pszKey) const {
        const Json& v = Get(pszKey);
        if (!v.is_string()) {
            throw CBadPlace{Join(m_strPlace, pszKey), "a text is expected"};
        }
        return v.get<std::string>();
    }
    bool Flag(const char* pszKey) const {
        const Json& v = Get(pszKey);
        if (!v.is_boolean()) {
            throw CBadPlace{Join(m_strPlace, pszKey), "true or false is expected"};
        }
        return v.get<bool>();
    }
    long long Integer(const char* pszKey, long long nMin, long long nMax) const {
        return IntegerOf(Get(pszKey), Join(m_strPlace, pszKey), nMin, nMax);
    }
    // A name of the table, as its index.
    int Choice(const char* pszKey, const char* const* names, int nNames,
               const char* pszWhat) const {
        const CString strName = Text(pszKey);
        std::string strNames;
        for (int i = 0; i < nNames; ++i) {
            if (strName == names[i]) {
                return i;
            }
            strNames += (i == 0 ? "" : ", ") + std::string(names[i]);
        }
        throw CBadPlace{Join(m_strPlace, pszKey), "unknown " + std::string(pszWhat) + " '" +
                                                      strName + "': one of " + strNames};
    }
    CObjectReader Object(const char* pszKey) const {
        return CObjectReader(Get(pszKey), Join(m_strPlace, pszKey));
    }
    const Json& Array(const char* pszKey) const {
        const Json& v = Get(pszKey);
        if (!v.is_array()) {
            throw CBadPlace{Join(m_strPlace, pszKey), "a list is expected"};
        }
        return v;
    }

    static long long IntegerOf(const Json& v, const std::string& strPlace, long long nMin,
                               long long nMax) {
        if (!v.is_number_integer()) {
            throw CBadPlace{strPlace, "a whole number is expected"};
        }
        // Above LLONG_MAX only as an unsigned number, out of every range here.
        const bool bHuge = v.is_number_unsigned() &&
                           v.get<unsigned long long>() > static_cast<unsigned long long>(LLONG_MAX);
        const long long n = bHuge ? LLONG_MAX : v.get<long long>();
        if (bHuge || n < nMin || n > nMax) {
            throw CBadPlace{strPlace, v.dump() + " is out of range (" + std::to_string(nMin) +
                                          " to " + std::to_string(nMax) + ")"};
        }
        return n;
    }

private:
    const Json& m_j;
    std::string m_strPlace;
};

// A BOOL or the WORD flag: true, false, or a number of its type.
long long FlagValue(const Json& v, const std::string& strPlace, long long nTrue, long long nMin,
                    long long nMax) {
    if (v.is_boolean()) {
        return v.get<bool>() ? nTrue : 0;
    }
    if (!v.is_number_integer()) {
        throw CBadPlace{strPlace, "true or false is expected"};
    }
    return CObjectReader::IntegerOf(v, strPlace, nMin, nMax);
}

// The record's bytes from its named fields.
CByteArray EncodeRecord(const CObjectReader& record, WORD nType) {
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    for (const CField& f : FieldsOf(nType)) {
        const CObjectReader group = f.pszGroup != nullptr ? record.Object(f.pszGroup) : record;
        const std::string strPlace = Join(group.Place(), f.pszName);
        const Json& v = group.Get(f.pszName);
        switch (f.type) {
            case EField::TEXT:
                ar << group.Text(f.pszName);
                break;
            case EField::BYTE:
                ar << static_cast<BYTE>(CObjectReader::IntegerOf(v, strPlace, 0, 0xFF));
                break;
            case EField::WORD:
                ar << static_cast<WORD>(CObjectReader::IntegerOf(v, strPlace, 0, 0xFFFF));
                break;
            case EField::DWORD:
                ar << static_cast<DWORD>(CObjectReader::IntegerOf(v, strPlace, 0, 0xFFFFFFFFLL));
                break;
            case EField::BOOL:
                ar << static_cast<int>(FlagValue(v, strPlace, 1, INT_MIN, INT_MAX));
                break;
            case EField::FLAG:
                ar << static_cast<WORD>(FlagValue(v, strPlace, 0xFFFF, 0, 0xFFFF));
                break;
        }
    }
    ar.Close();
    return file.GetData();
}

const char* const kStates[] = {"normal", "maximised", "minimised"};

Json GeometryJson(const CWindowGeometry& g) {
    Json j;
    j["x"] = g.x;
    j["y"] = g.y;
    j["width"] = g.nWidth;
    j["height"] = g.nHeight;
    j["state"] = kStates[static_cast<int>(g.state)];
    return j;
}

CWindowGeometry GeometryOf(const CObjectReader& r) {
    CWindowGeometry g;
    g.x = static_cast<int>(r.Integer("x", INT_MIN, INT_MAX));
    g.y = static_cast<int>(r.Integer("y", INT_MIN, INT_MAX));
    g.nWidth = static_cast<int>(r.Integer("width", 0, INT_MAX));
    g.nHeight = static_cast<int>(r.Integer("height", 0, INT_MAX));
    g.state = static_cast<EWindowState>(
        r.Choice("state", kStates, static_cast<int>(std::size(kStates)), "window state"));
    return g;
}

// A form's index as the table's name; an index outside it as the first.
const char* NameAt(const char* const* names, int nNames, int i) {
    return names[i >= 0 && i < nNames ? i : 0];
}

Json WindowJson(const CWorkspaceWindow& w) {
    Json j;
    j["connection"] = w.strConnection;
    j["device"] = w.strDevice;
    j["read_function"] = NameAt(kFunctions, READ_FUNCTION_COUNT, w.nReadFunction);
    j["address"] = w.strAddress;
    j["quantity"] = w.strQuantity;
    j["data_type"] = NameAt(kTypes, DATA_TYPE_COUNT, w.nDataType);
    j["write_function"] = NameAt(kWriteFunctions, WRITE_FUNCTION_COUNT, w.nWriteFunction);
    j["write_address"] = w.strWriteAddress;
    j["write_value"] = w.strWriteValue;
    j["interval"] = w.strInterval;
    j["polling"] = w.bPolling;
    j["logging"] = w.bLogging;
    j["log_file"] = w.strLogFile;
    j["chart"] = w.bChart;
    j["geometry"] = GeometryJson(w.geometry);
    return j;
}

CWorkspaceWindow WindowOf(const CObjectReader& r) {
    CWorkspaceWindow w;
    w.strConnection = r.Text("connection");
    w.strDevice = r.Text("device");
    w.nReadFunction = r.Choice("read_function", kFunctions, READ_FUNCTION_COUNT, "read function");
    w.strAddress = r.Text("address");
    w.strQuantity = r.Text("quantity");
    w.nDataType = r.Choice("data_type", kTypes, DATA_TYPE_COUNT, "data type");
    w.nWriteFunction =
        r.Choice("write_function", kWriteFunctions, WRITE_FUNCTION_COUNT, "write function");
    w.strWriteAddress = r.Text("write_address");
    w.strWriteValue = r.Text("write_value");
    w.strInterval = r.Text("interval");
    w.bPolling = r.Flag("polling");
    w.bLogging = r.Flag("logging");
    w.strLogFile = r.Text("log_file");
    w.bChart = r.Flag("chart");
    w.geometry = GeometryOf(r.Object("geometry"));
    return w;
}

Json ConnectionJson(const CWorkspaceConnection& c) {
    Json j;
    j["name"] = c.strName;
    j["kind"] = c.nType;
    j["kind_label"] = ConnectionTypeLabel(c.nType);
    DecodeRecord(c.record, c.nType, j);
    return j;
}

CWorkspaceConnection ConnectionOf(const CObjectReader& r) {
    CWorkspaceConnection c;
    c.strName = r.Text("name");
    c.nType = static_cast<WORD>(r.Integer("kind", CONNECTION_LOCAL_DCOM, CONNECTION_TLS));
    c.record = EncodeRecord(r, c.nType);
    return c;
}

// "line 4, column 9: " for the byte at nEnd (from 0) of the text.
std::string PlaceOf(const std::string& strText, size_t nEnd) {
    nEnd = std::min(nEnd, strText.size());
    size_t nLine = 1;
    size_t nColumn = 1;
    for (size_t i = 0; i < nEnd; ++i) {
        if (strText[i] == '\n') {
            ++nLine;
            nColumn = 1;
        } else {
            ++nColumn;
        }
    }
    return "line " + std::to_string(nLine) + ", column " + std::to_string(nColumn) + ": ";
}

// The parser's fault at its place; e.byte counts from 1.
std::string ParseErrorText(const std::string& strText, const nlohmann::json::parse_error& e) {
    // The parser's own text leads with its exception's name and place.
    std::string strWhat = e.what();
    const size_t nColumnAt = strWhat.find("column ");
    const size_t nColon = strWhat.find(": ", nColumnAt == std::string::npos ? 0 : nColumnAt);
    if (nColon != std::string::npos) {
        strWhat = strWhat.substr(nColon + 2);
    }
    return PlaceOf(strText, e.byte > 0 ? e.byte - 1 : 0) + strWhat;
}

// A number too large for any type ("number overflow parsing '1e999'"): the
// parser does not say where, so the number's first occurrence is the place.
std::string OverflowText(const std::string& strText, const nlohmann::json::exception& e) {
    std::string strWhat = e.what();
    const size_t nTag = strWhat.find("] ");
    strWhat = nTag == std::string::npos ? strWhat : strWhat.substr(nTag + 2);
    const size_t nOpen = strWhat.find('\'');
    const size_t nClose = strWhat.rfind('\'');
    if (nOpen == std::string::npos || nClose <= nOpen + 1) {
        return strWhat;
    }
    const size_t nAt = strText.find(strWhat.substr(nOpen + 1, nClose - nOpen - 1));
    return nAt == std::string::npos ? strWhat : PlaceOf(strText, nAt) + strWhat;
}

void ReadWorkspace(const Json& root, CWorkspace& ws) {
    if (!root.is_object()) {
        throw CBadPlace{"", "not a Regprobe workspace: the file holds no JSON object"};
    }
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() || *format != WORKSPACE_FORMAT) {
        throw CBadPlace{"", "not a Regprobe workspace: \"format\" is not \"" +
                                std::string(WORKSPACE_FORMAT) + "\""};
    }
    const CObjectReader r(root, "");
    const long long nVersion = r.Integer("version", LLONG_MIN, LLONG_MAX);
    if (nVersion > WORKSPACE_VERSION) {
        throw CBadPlace{"", "version " + std::to_string(nVersion) +
                                " is newer than this program reads (" +
                                std::to_string(WORKSPACE_VERSION) + ")"};
    }
    if (nVersion < 1) {
        throw CBadPlace{"version", std::to_string(nVersion) + " is not a workspace version"};
    }
    ws.mainWindow = GeometryOf(r.Object("main_window"));
    const Json& connections = r.Array("connections");
    std::set<CString> names;
    for (size_t i = 0; i < connections.size(); ++i) {
        const CObjectReader record(connections[i], Indexed("connections", i));
        CWorkspaceConnection c = ConnectionOf(record);
        if (!names.insert(c.strName).second) {
            throw CBadPlace{Join(record.Place(), "name"), "a second connection named " + c.strName};
        }
        ws.connections.push_back(std::move(c));
    }
    const Json& windows = r.Array("windows");
    for (size_t i = 0; i < windows.size(); ++i) {
        ws.windows.push_back(WindowOf(CObjectReader(windows[i], Indexed("windows", i))));
    }
    const CObjectReader traffic = r.Object("traffic");
    ws.traffic.bOpen = traffic.Flag("open");
    ws.traffic.strConnection = traffic.Text("connection");
    ws.traffic.bPaused = traffic.Flag("paused");
    ws.traffic.geometry = GeometryOf(traffic.Object("geometry"));
}

CString ErrnoText(int nError) {
    return std::strerror(nError);
}

}  // namespace

std::string WorkspaceToText(const CWorkspace& workspace) {
    Json root;
    root["format"] = WORKSPACE_FORMAT;
    root["version"] = WORKSPACE_VERSION;
    root["main_window"] = GeometryJson(workspace.mainWindow);
    root["connections"] = Json::array();
    for (const CWorkspaceConnection& c : workspace.connections) {
        root["connections"].push_back(ConnectionJson(c));
    }
    root["windows"] = Json::array();
    for (const CWorkspaceWindow& w : workspace.windows) {
        root["windows"].push_back(WindowJson(w));
    }
    Json traffic;
    traffic["open"] = workspace.traffic.bOpen;
    traffic["connection"] = workspace.traffic.strConnection;
    traffic["paused"] = workspace.traffic.bPaused;
    traffic["geometry"] = GeometryJson(workspace.traffic.geometry);
    root["traffic"] = std::move(traffic);
    // A text that is not UTF-8 (a name from an old file) keeps what it can.
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WorkspaceFromText(const std::string& strText, CWorkspace& workspace, CString& strError) {
    Json root;
    try {
        root = Json::parse(strText);
    } catch (const nlohmann::json::parse_error& e) {
        strError = ParseErrorText(strText, e);
        return false;
    } catch (const nlohmann::json::exception& e) {
        strError = OverflowText(strText, e);
        return false;
    }
    CWorkspace read;
    try {
        ReadWorkspace(root, read);
    } catch (const CBadPlace& bad) {
        strError = bad.strPlace.empty() ? bad.strText : bad.strPlace + ": " + bad.strText;
        return false;
    }
    workspace = std::move(read);
    return true;
}

bool SaveWorkspace(const CWorkspace& workspace, const CString& strPath, CString& strError) {
    const std::string strText = WorkspaceToText(workspace);
    return SaveWholeFile(
        strPath,
        [&strText](CFile& file) { file.Write(strText.data(), static_cast<UINT>(strText.size())); },
        strError);
}

bool LoadWorkspace(const CString& strPath, CWorkspace& workspace, CString& strError) {
    CUniqueFd fd(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0) {
        strError = "Cannot open " + strPath + ": " + ErrnoText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        strError = strPath + ": not a file";
        return false;
    }
    if (st.st_size > kMaxFileBytes) {
        strError = strPath + ": larger than a workspace can be (16 MiB)";
        return false;
    }
    std::string strText;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            strError = "Cannot read " + strPath + ": " + ErrnoText(errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        strText.append(buf, static_cast<size_t>(n));
        // A file that grew since fstat is held to the same bound.
        if (strText.size() > static_cast<size_t>(kMaxFileBytes)) {
            strError = strPath + ": larger than a workspace can be (16 MiB)";
            return false;
        }
    }
    CString strWhy;
    if (!WorkspaceFromText(strText, workspace, strWhy)) {
        strError = strPath + ": " + strWhy;
        return false;
    }
    return true;
}

std::vector<CWorkspaceConnection> WorkspaceConnectionsOf(const CConnections& connections) {
    std::vector<CWorkspaceConnection> records;
    connections.ForEach([&records](const CString& strName, CConnection* pConnection) {
        CMemFile file;
        CArchive ar(&file, CArchive::store);
        pConnection->WriteSettings(ar);
        ar.Close();
        records.push_back({strName, pConnection->GetType(), file.GetData()});
    });
    return records;
}

CByteArray ConfigImageOf(const std::vector<CWorkspaceConnection>& connections) {
    CMemFile file;
    CArchive ar(&file, CArchive::store);
    ar << static_cast<int>(connections.size());
    for (const CWorkspaceConnection& c : connections) {
        ar << c.strName << c.nType;
        if (!c.record.empty()) {
            ar.Write(c.record.data(), static_cast<UINT>(c.record.size()));
        }
    }
    ar.Close();
    return file.GetData();
}
