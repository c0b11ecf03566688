// What the end-to-end benchmarks share: percentiles of sorted latency samples, and the
// report that prints each line and keeps it for the results file in <build>/bench_results/.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

// The sample at quantile q of sorted samples; 0 when there are none.
inline double bench_percentile(const std::vector<double> &sorted, double q)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * sorted.size()))];
}

// <build>/bench_results/<file>, the benchmarks living in <build>/bench/.
inline std::string bench_default_output(const char *file)
{
    std::error_code error;
    std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", error);
    std::filesystem::path build = error ? std::filesystem::current_path() : self.parent_path().parent_path();
    return (build / "bench_results" / file).string();
}

class bench_report
{
  public:
    void line(const char *format, ...) __attribute__((format(printf, 2, 3)))
    {
        char text[512];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        printf("%s\n", text);
        fflush(stdout);
        m_text << text << "\n";
    }

    void blank() { line("%s", ""); }

    // One row of latencies and rate of a result that has at(q), max() and rate().
    template <typename Result> void latency(const char *who, const Result &r)
    {
        line("  %-8s p50 %8.1f us  p99 %8.1f us  p99.9 %8.1f us  max %8.1f us  %9.0f orders/s", who,
             r.at(0.50), r.at(0.99), r.at(0.999), r.max(), r.rate());
    }

    template <typename Result> void ratios(const Result &measured, const Result &baseline)
    {
        auto ratio = [](double a, double b) { return b > 0 ? a / b : 0; };
        line("  ratio    p50 %7.2fx    p99 %7.2fx    p99.9 %7.2fx    max %7.2fx    rate %.2fx",
             ratio(measured.at(0.50), baseline.at(0.50)), ratio(measured.at(0.99), baseline.at(0.99)),
             ratio(measured.at(0.999), baseline.at(0.999)), ratio(measured.max(), baseline.max()),
             ratio(measured.rate(), baseline.rate()));
    }

    bool write(const std::string &path) const
    {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        std::ofstream file(path);
        file << m_text.str();
        return static_cast<bool>(file);
    }

  private:
    std::ostringstream m_text;
};
