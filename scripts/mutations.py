#!/usr/bin/env python3
"""Puts back, one at a time, faults a developer could make in the effect, and checks that the
fast tests (labels `unit` and `host`) catch each one.

    scripts/mutations.py [build-folder]      (default: build, configured with the tests)

Each fault is a text replacement in one source file. The file is restored after its run, also
when the script is interrupted. A fault whose text is no longer in the source is reported as
stale (exit 1), as is one that does not build: the list must follow the code. Exit 0 only when every fault failed a test.
"""
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The filter's hue encoder truncating instead of rounding half up.
SCALAR_HUE_TRUNCATED = ("Ombrel/Filter/OmbrelColorSpaceConversion.cpp", """            scaled = v * D::kHueScale;
        } else {
            scaled = v * D::kMax;
        }
        return quantizeRoundHalfUp<typename D::Channel>(scaled, D::kMax);""", """            return quantizeTruncate<typename D::Channel>(v * D::kHueScale, D::kMax);
        } else {
            scaled = v * D::kMax;
        }
        return quantizeRoundHalfUp<typename D::Channel>(scaled, D::kMax);""")

# (what the fault is, [(file, text, replacement), ...]): every edit of a fault is made together.
FAULTS = [
    (
        "a band's exception unwinds into the host's worker thread",
        [
            ("Ombrel/Filter/OmbrelFilterMulti.h", """    try {
        job.filter->execute(*job.src, *job.dst,
                            Rect(job.region.left, top, job.region.right, bottom));
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
""", """    job.filter->execute(*job.src, *job.dst, Rect(job.region.left, top, job.region.right, bottom));
"""),
        ],
    ),
    (
        "an allocation failure reported as PF_Err_INTERNAL_STRUCT_DAMAGED",
        [
            ("OmbrelPlugin.cpp", """    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
""", ""),
        ],
    ),
    (
        "the global handle handed to the host still locked",
        [
            ("OmbrelPlugin.cpp", """        owned.unlock();
        if (err == PF_Err_NONE)
            out_data->global_data = owned.release();""", """        if (err == PF_Err_NONE)
            out_data->global_data = owned.release();"""),
        ],
    ),
    (
        "smart render without pre-render data not refused",
        [
            ("OmbrelPlugin.cpp", """    if (data == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;
""", ""),
        ],
    ),
    (
        "the maximum result rectangle filled from the result rectangle",
        [
            ("OmbrelPlugin.cpp", "UnionLRect(&result.max_result_rect, &extra->output->max_result_rect);", "UnionLRect(&result.result_rect, &extra->output->max_result_rect);"),
        ],
    ),
    (
        "the hue truncated instead of rounded half up (scalar filter)",
        [
            SCALAR_HUE_TRUNCATED,
        ],
    ),
    (
        "the hue truncated instead of rounded half up (scalar filter and vector kernels alike)",
        [
            SCALAR_HUE_TRUNCATED,
            ("Ombrel/Filter/Kernels/KernelBody.h", "return {o.r * k + 0.5f, o.g * m + 0.5f, o.b * m + 0.5f};", "return {o.r * k, o.g * m + 0.5f, o.b * m + 0.5f};"),
        ],
    ),
    (
        "the readers' bound offset <= size made < (an empty ELF section at the file's end refused)",
        [
            ("Host/ByteReader.h", "return offset <= size_ && length <= size_ - offset;", "return offset < size_ && length <= size_ - offset;"),
        ],
    ),
    (
        "a PE data address at VirtualAddress + SizeOfRawData of a larger section accepted",
        [
            ("Host/PeFile.cpp", "if (delta >= s.rawSize)", "if (delta > s.rawSize)"),
        ],
    ),
    (
        "a resource file's type count 0xFFFF (no types) read as 65536 types",
        [
            ("Host/ResourceFork.cpp", """(map.u(typeList, 2, "the type count") + 1) & 0xFFFFu;""", """map.u(typeList, 2, "the type count") + 1;"""),
        ],
    ),
    (
        "resource references sharing their data each copied",
        [
            ("Host/ResourceFork.cpp", "if (claimed > data.size())", "if (claimed > data.size() && false)"),
        ],
    ),
    (
        "an unpadded last PiPL property bound-checked on its length, not its padded length",
        [
            ("Host/PiPL.cpp", "if (padded > bytes.size() - at)", "if (length > bytes.size() - at)"),
        ],
    ),
    (
        "a PiPL Pascal string as long as its property read one byte past",
        [
            ("Host/PiPL.cpp", "std::size_t{p.data[0]} + 1 > p.data.size()", "std::size_t{p.data[0]} > p.data.size()"),
        ],
    ),
    (
        "HLS to RGB gives m2 from 180 degrees on too (the falling ramp and m1 left out)",
        [
            ("Ombrel/Filter/Kernels/KernelBody.h", "const M<S> flat = butNot(pastRise, atLeast(a, 180.0f));", "const M<S> flat = pastRise;"),
        ],
    ),
    (
        "16-bit HLS to RGB takes L and S above 1 as they are (their limit to 1 left out)",
        [
            ("Ombrel/Filter/Kernels/KernelBody.h", "convert<T, D::kBits == 8>(c, o);", "convert<T, true>(c, o);"),
        ],
    ),
    (
        "the two-vector step reads its second vector's pixels from the first's place",
        [
            ("Ombrel/Filter/Kernels/TwiceTraits.h", "S::load32(p + S::kLanes, a.hi, r.hi, g.hi, b.hi);", "S::load32(p, a.hi, r.hi, g.hi, b.hi);"),
        ],
    ),
    (
        "the 16-bit load keeps red's bits in the alpha lanes (the mask left out)",
        [
            ("Ombrel/Filter/Kernels/Sse2Traits.h", "a = _mm_and_si128(ar, low);", "a = ar;"),
            ("Ombrel/Filter/Kernels/KernelsAvx2.cpp", "a = _mm256_and_si256(ar, low);", "a = ar;"),
        ],
    ),
    (
        "16-bit YUV in channel units offset by the decoded one half, not 2^14",
        [
            ("Ombrel/Filter/Kernels/KernelBody.h", "constexpr float kHalf = 16384.0f;", "constexpr float kHalf = 0.5f;"),
        ],
    ),
    (
        "8-bit YUV to RGB in channel units centred on 128, not 127.5",
        [
            ("Ombrel/Filter/Kernels/KernelBody.h", "yuvToRgb(c, o, 127.5f);", "yuvToRgb(c, o, 128.0f);"),
        ],
    ),
    (
        "a streaming row leaves the pixels before its first aligned one unwritten",
        [
            ("Ombrel/Filter/OmbrelColorSpaceConversion.cpp", """    if (head > 0)
        convertFew(vector, lanes, src, dst, head);
""", ""),
        ],
    ),
    (
        "the pre-render data's deletion function frees nothing",
        [
            ("OmbrelPlugin.cpp", """void DeletePreRenderData(void* data) {
    delete static_cast<PreRenderData*>(data);
}""", """void DeletePreRenderData(void* /*data*/) {
}"""),
        ],
    ),
    (
        "the suite helper's message copy writing its terminator past return_msg",
        [
            ("Util/AEFX_SuiteHelper.cpp", "i < sizeof(out_data->return_msg) - 1; ++i)", "i < sizeof(out_data->return_msg); ++i)"),
        ],
    ),
    (
        "the kernel path rule choosing AVX2 without the OS saving the YMM state",
        [
            ("Ombrel/Filter/Kernels/KernelPath.h", """    if (sse2 && sse41 && avx2 && osYmm)
        return Path::Avx2;""", """    if (sse2 && sse41 && avx2)
        return Path::Avx2;"""),
        ],
    ),
    (
        "ombrel-render: a PNG cut inside its IEND checksum compared against bytes never read",
        [
            ("Tools/ombrel-render/HeaderChecks.cpp", "if (at + 12 + length > file.size())", "if (at + 8 + length > file.size())"),
            ("Tools/ombrel-render/HeaderChecks.cpp", """        if (file.readAt(at + 8 + length, stored, 4) != 4)
            damaged("the file ends inside its " + type + " chunk");""", """        file.readAt(at + 8 + length, stored, 4);"""),
        ],
    ),
    (
        "ombrel-render: a dangling symbolic link at a temporary's name taken for a free name",
        [
            ("Tools/ombrel-render/AtomicFile.cpp", "while (fs::exists(fs::symlink_status(temp_, ec)));", "while (fs::exists(temp_, ec));"),
        ],
    ),
    (
        "the macOS PiPL naming the entry point for 64-bit Intel only (no arm64 slice could load)",
        [
            ("OmbrelPiPL.h", """inline constexpr Encoding kMac{ByteOrder::Big, fourCC("mi64"), fourCC("ma64")};""", """inline constexpr Encoding kMac{ByteOrder::Big, fourCC("mi64"), 0};"""),
        ],
    ),
]


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=ROOT, text=True, capture_output=True, **kw)


def failed_tests(build):
    """Builds, runs the fast tests and returns (build ok, names of failed tests)."""
    b = run(["cmake", "--build", build])
    if b.returncode != 0:
        return False, []
    t = run(["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2), "-L", "^(unit|host)$"])
    summary = t.stdout.split("The following tests FAILED:", 1)
    failed = []
    if len(summary) == 2:
        for line in summary[1].splitlines():
            if " - " in line:
                failed.append(line.split(" - ", 1)[1].rsplit(" (", 1)[0].strip())
    return True, failed


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    if not os.path.isfile(os.path.join(ROOT, build, "CTestTestfile.cmake")):
        print(f"mutations.py: {build}/ is not a configured build with tests", file=sys.stderr)
        return 2

    ok, failed = failed_tests(build)
    if not ok or failed:
        print("mutations.py: the unchanged sources must build and pass first", file=sys.stderr)
        return 2

    missed = stale = 0
    for what, edits in FAULTS:
        originals = {}
        for rel, old, _ in edits:
            path = os.path.join(ROOT, rel)
            with open(path, encoding="utf-8") as f:
                originals.setdefault(path, f.read())
        texts = dict(originals)
        for rel, old, new in edits:
            path = os.path.join(ROOT, rel)
            if texts[path].count(old) != 1:
                break
            texts[path] = texts[path].replace(old, new)
        else:
            rel = None
        if rel is not None:
            print(f"STALE   {what}: its text is not (once) in {rel}")
            stale += 1
            continue
        started = time.monotonic()
        try:
            for path, text in texts.items():
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
            built, failed = failed_tests(build)
        finally:
            for path, text in originals.items():
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
        seconds = time.monotonic() - started
        if not built:
            print(f"ERROR   {what}: the changed sources do not build ({seconds:.0f} s)")
            stale += 1
        elif failed:
            shown = ", ".join(failed[:4]) + (f" and {len(failed) - 4} more" if len(failed) > 4 else "")
            print(f"CAUGHT  {what}: {len(failed)} failed ({shown}) ({seconds:.0f} s)")
        else:
            print(f"MISSED  {what}: every fast test passed ({seconds:.0f} s)")
            missed += 1
    # Leave the build matching the restored sources.
    run(["cmake", "--build", build])
    print(f"{len(FAULTS) - missed - stale} of {len(FAULTS)} faults caught, {missed} missed, {stale} stale or not building")
    return 0 if missed == 0 and stale == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
