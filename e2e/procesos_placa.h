// The board's processes as the kernel sees them: every descendant of the program that started
// the board (simulated board daemon, core, resource processes, DSP service, stand-ins), peers
// such as sipp left out. CPU, resident memory and open descriptors from /proc.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace placa_procesos {

struct Proceso {
    pid_t iPid = 0;
    std::string sNombre;     // comm
    double dCpuS = 0;        // user + system, seconds
    double dRssMib = 0;
    int iFds = 0;
    int iFdsPlaca = 0;       // of iFds, connections to the simulated board
    int iHilos = 0;
};

inline std::string Lee(const std::string& sRuta) {
    std::ifstream f(sRuta);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Fields of /proc/<pid>/stat from the state on (field 3 is index 0); empty when gone.
inline std::vector<std::string> CamposStat(pid_t iPid, std::string* pNombre = nullptr) {
    const std::string s = Lee("/proc/" + std::to_string(iPid) + "/stat");
    const size_t a = s.find('('), b = s.rfind(')');  // the name may hold spaces
    if (a == std::string::npos || b == std::string::npos || b + 2 > s.size()) return {};
    if (pNombre) *pNombre = s.substr(a + 1, b - a - 1);
    std::vector<std::string> v;
    std::string c;
    for (size_t i = b + 2; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == ' ' || s[i] == '\n') {
            if (!c.empty()) v.push_back(c);
            c.clear();
        } else {
            c += s[i];
        }
    }
    return v;
}

inline int CuentaFds(pid_t iPid) {
    int n = 0;
    if (DIR* d = opendir(("/proc/" + std::to_string(iPid) + "/fd").c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') n++;
        closedir(d);
    }
    return n;
}

// The process's sockets by inode, as "udp 0.0.0.0:5004", "tcp 127.0.0.1:19710" or
// "unix seqpacket <path>", from the tables of its network namespace.
inline std::map<std::string, std::string> Sockets(pid_t iPid) {
    std::map<std::string, std::string> m;
    const std::string sNet = "/proc/" + std::to_string(iPid) + "/net/";
    for (const char* szTabla : {"udp", "tcp"}) {
        std::ifstream f(sNet + szTabla);
        std::string l;
        std::getline(f, l);  // "sl local_address rem_address st ... inode"
        while (std::getline(f, l)) {
            std::istringstream is(l);
            std::vector<std::string> v;
            for (std::string c; is >> c;) v.push_back(c);
            if (v.size() < 10 || v[1].size() != 13) continue;
            const unsigned long ulIp = std::stoul(v[1].substr(0, 8), nullptr, 16);  // little-endian
            const unsigned long ulPuerto = std::stoul(v[1].substr(9), nullptr, 16);
            m[v[9]] = std::string(szTabla) + " " + std::to_string(ulIp & 0xFF) + "." + std::to_string((ulIp >> 8) & 0xFF) +
                      "." + std::to_string((ulIp >> 16) & 0xFF) + "." + std::to_string(ulIp >> 24) + ":" +
                      std::to_string(ulPuerto);
        }
    }
    std::ifstream f(sNet + "unix");
    std::string l;
    std::getline(f, l);  // "Num RefCount Protocol Flags Type St Inode Path"
    while (std::getline(f, l)) {
        std::istringstream is(l);
        std::string sNum, sRef, sProto, sFlags, sTipo, sEstado, sNodo, sRuta;
        if (!(is >> sNum >> sRef >> sProto >> sFlags >> sTipo >> sEstado >> sNodo)) continue;
        is >> sRuta;
        const char* szTipo = sTipo == "0001" ? "stream" : sTipo == "0002" ? "dgram" : sTipo == "0005" ? "seqpacket" : "?";
        m[sNodo] = std::string("unix ") + szTipo + (sRuta.empty() ? "" : " " + sRuta);
    }
    return m;
}

// What each descriptor points to, one per line ("7 socket:[1234] udp 0.0.0.0:5004").
inline std::vector<std::string> Descriptores(pid_t iPid) {
    const std::map<std::string, std::string> mSockets = Sockets(iPid);
    std::vector<std::string> v;
    const std::string sDir = "/proc/" + std::to_string(iPid) + "/fd";
    if (DIR* d = opendir(sDir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char ac[256] = {};
            const ssize_t n = readlink((sDir + "/" + e->d_name).c_str(), ac, sizeof ac - 1);
            std::string s = std::string(e->d_name) + " " + (n > 0 ? std::string(ac, static_cast<size_t>(n)) : "?");
            if (s.find(" socket:[") != std::string::npos) {
                const auto it = mSockets.find(s.substr(s.find('[') + 1, s.find(']') - s.find('[') - 1));
                if (it != mSockets.end()) s += " " + it->second;
            }
            v.push_back(s);
        }
        closedir(d);
    }
    return v;
}

// Of them, the connections to the simulated board: the hardware layer's client pools them,
// one per device call under way at once, so their number is the most calls the process has
// had under way together (it may grow by one now and then for the whole run, bounded by the
// process's threads). The only Unix SOCK_SEQPACKET sockets of the board's processes.
inline int CuentaFdsPlaca(const std::vector<std::string>& vDescriptores) {
    int n = 0;
    for (const auto& s : vDescriptores) n += s.find(" unix seqpacket") != std::string::npos;
    return n;
}

inline Proceso Mide(pid_t iPid) {
    Proceso p;
    p.iPid = iPid;
    const std::vector<std::string> v = CamposStat(iPid, &p.sNombre);
    if (v.size() > 12)  // utime and stime: fields 14 and 15
        p.dCpuS = (std::atof(v[11].c_str()) + std::atof(v[12].c_str())) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream st("/proc/" + std::to_string(iPid) + "/status");
    for (std::string l; std::getline(st, l);)
        if (l.rfind("VmRSS:", 0) == 0)
            p.dRssMib = std::atof(l.c_str() + 6) / 1024.0;
        else if (l.rfind("Threads:", 0) == 0)
            p.iHilos = std::atoi(l.c_str() + 8);
    p.iFds = CuentaFds(iPid);
    p.iFdsPlaca = CuentaFdsPlaca(Descriptores(iPid));
    return p;
}

// Live descendants of iRaiz (not iRaiz itself) whose name is not in sFuera.
inline std::vector<Proceso> Descendientes(pid_t iRaiz, const std::set<std::string>& sFuera = {"sipp", "sh"}) {
    std::map<pid_t, pid_t> mPadre;
    std::map<pid_t, std::string> mNombre;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            const pid_t p = std::atoi(e->d_name);
            if (p <= 0) continue;
            std::string sNombre;
            const std::vector<std::string> v = CamposStat(p, &sNombre);
            if (v.size() < 2 || v[0] == "Z") continue;
            mPadre[p] = std::atoi(v[1].c_str());
            mNombre[p] = sNombre;
        }
        closedir(d);
    }
    std::vector<Proceso> r;
    for (const auto& e : mPadre) {
        bool bDesc = false;
        for (pid_t p = e.second, n = 0; p > 0 && n < 64; p = mPadre.count(p) ? mPadre[p] : 0, n++)
            if (p == iRaiz) {
                bDesc = true;
                break;
            }
        if (bDesc && !sFuera.count(mNombre[e.first])) r.push_back(Mide(e.first));
    }
    return r;
}

inline double CpuTotal(const std::vector<Proceso>& v) {
    double d = 0;
    for (const auto& p : v) d += p.dCpuS;
    return d;
}
inline double RssTotal(const std::vector<Proceso>& v) {
    double d = 0;
    for (const auto& p : v) d += p.dRssMib;
    return d;
}

// CPU seconds spent by the processes of vAntes up to vDespues (a process gone meanwhile counts
// what it had spent; one born meanwhile, all it spent).
inline double CpuEntre(const std::vector<Proceso>& vAntes, const std::vector<Proceso>& vDespues) {
    std::map<pid_t, double> m;
    for (const auto& p : vAntes) m[p.iPid] = p.dCpuS;
    double d = 0;
    for (const auto& p : vDespues) d += p.dCpuS - (m.count(p.iPid) ? m[p.iPid] : 0.0);
    return d;
}

}  // namespace placa_procesos
