#include "platform/mounts.h"

#include "platform/linefile.h"

#include <algorithm>
#include <sstream>

namespace velmo {

namespace {

std::string unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        auto octal = [&](std::size_t k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool below(const std::string& path, const std::string& dir) {
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           (dir.back() == '/' || path[dir.size()] == '/'));
}

} // namespace

std::vector<std::string> parseMountTable(std::string_view table) {
    std::vector<std::string> points{"/"};
    for (const std::string& line : splitLines(table)) {
        std::istringstream in(line);
        std::string source, point;
        if (!(in >> source >> point))
            continue;
        point = unescape(point);
        if (source.empty() || source.front() != '/' || point.empty() || point.front() != '/')
            continue;
        if (below(point, "/proc") || below(point, "/sys") || below(point, "/dev") || below(point, "/run"))
            continue;
        if (std::find(points.begin(), points.end(), point) == points.end())
            points.push_back(point);
    }
    return points;
}

std::vector<std::string> mountedFileSystems() {
    try {
        return parseMountTable(readFileBytes("/proc/self/mounts"));
    } catch (const std::exception&) {
        return {"/"};
    }
}

std::string mountPointOf(const std::string& path, const std::vector<std::string>& mountPoints) {
    std::string best = "/";
    for (const std::string& p : mountPoints)
        if (below(path, p) && p.size() > best.size())
            best = p;
    return best;
}

} // namespace velmo
