// Downloads one large file from nginx on 127.0.0.1 with HttpDowner and with `curl -o`, runs
// alternating, and prints the median wall and CPU times and their ratios (ours / curl).
// Before that it sweeps curl's receive buffer size with a plain libcurl transfer doing the same
// work per block (one fwrite), the figure HttpDowner's buffer size was chosen from.
//
// Usage: bench_http [runs (5)] [file size in MiB (1024)]

#include "Measure.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "net/HttpDowner.h"
#include "support/Text.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool ours(const std::string& url, const std::string& output)
{
    FILE* file = std::fopen(output.c_str(), "wb");
    HttpDowner downer;
    downer.verb = L"GET";
    downer.onData.connect([file](char* data, unsigned long size) { std::fwrite(data, 1, size, file); });
    const bool ok = downer.request(fromUtf8(url), L"") && downer.status() == 200;
    std::fclose(file);
    return ok;
}

size_t writeToFile(char* data, size_t size, size_t count, void* file)
{
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

bool plainCurl(const std::string& url, const std::string& output, long bufferSize)
{
    FILE* file = std::fopen(output.c_str(), "wb");
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, bufferSize);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeToFile);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, file);
    const bool ok = curl_easy_perform(easy) == CURLE_OK;
    curl_easy_cleanup(easy);
    std::fclose(file);
    return ok;
}

Sample curlTool(const std::string& url, const std::string& output)
{
    return runTool({"curl", "-s", "-o", output, url});
}

void makeFile(const std::string& path, long mebibytes)
{
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131 + i / 4099);
    FILE* file = std::fopen(path.c_str(), "wb");
    for (long i = 0; i < mebibytes; ++i)
        std::fwrite(block.data(), 1, block.size(), file);
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const long mebibytes = argc > 2 ? std::atol(argv[2]) : 1024;

    TempFolder root, out;
    makeFile(root.file("big.bin"), mebibytes);
    NginxServer nginx(root.path());
    const std::string url = nginx.url("/big.bin");
    const std::string output = out.file("download.bin");
    curlTool(url, output);  // warm the page cache
    unlink(output.c_str());

    std::printf("file %ld MiB from nginx on 127.0.0.1, %d runs each\n\n", mebibytes, runs);
    std::printf("receive buffer sweep (plain libcurl, fwrite per block), medians of %d rounds:\n", runs);
    const std::vector<long> sizesKib = {16, 32, 64, 128, 256, 512};
    std::vector<std::vector<double>> sweepWall(sizesKib.size()), sweepCpu(sizesKib.size());
    for (int round = 0; round < runs; ++round) {  // round-robin, so that drifts hit every size alike
        for (size_t k = 0; k < sizesKib.size(); ++k) {
            const Sample s = inProcess([&] { return plainCurl(url, output, sizesKib[k] * 1024); });
            unlink(output.c_str());
            sweepWall[k].push_back(s.wall);
            sweepCpu[k].push_back(s.cpu);
        }
    }
    for (size_t k = 0; k < sizesKib.size(); ++k)
        std::printf("  %4ld KiB  wall %.3f s  cpu %.3f s\n", sizesKib[k], median(sweepWall[k]), median(sweepCpu[k]));

    std::vector<double> oursWall, oursCpu, curlWall, curlCpu;
    std::printf("\nalternating runs:\n");
    for (int i = 0; i < runs; ++i) {
        const Sample a = inProcess([&] { return ours(url, output); });
        unlink(output.c_str());
        const Sample b = curlTool(url, output);
        unlink(output.c_str());
        std::printf("  run %d  HttpDowner wall %.3f cpu %.3f   curl -o wall %.3f cpu %.3f\n", i + 1, a.wall, a.cpu,
                    b.wall, b.cpu);
        oursWall.push_back(a.wall);
        oursCpu.push_back(a.cpu);
        curlWall.push_back(b.wall);
        curlCpu.push_back(b.cpu);
    }
    std::printf("\nmedian  HttpDowner wall %.3f s cpu %.3f s   curl -o wall %.3f s cpu %.3f s\n", median(oursWall),
                median(oursCpu), median(curlWall), median(curlCpu));
    std::printf("ratio (HttpDowner / curl)  wall %.2fx  cpu %.2fx\n", median(oursWall) / median(curlWall),
                median(oursCpu) / median(curlCpu));
    return 0;
}
