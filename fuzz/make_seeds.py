#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target under fuzz/corpus/<target>/.

Run again after changing a seed below; the files are committed so a fuzz run never needs it.
Texts are GBK. Some seeds hold byte pairs that open with a lead byte and end in ',' or '\\',
so the fuzzers start from inputs where a byte-wise cut would split a character.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def gbk(text: str) -> bytes:
    return text.encode("gbk")


QUOTE = gbk("#引号")
# Real GBK characters whose trail byte is a backslash, and lead bytes paired with a comma
# (not valid GBK, but the character walk must still keep them together).
BACKSLASH_TRAIL = b"\x81\x5c\xd5\x5c"  # 乗誠
COMMA_TRAIL = b"\xb0\x2c\xc4\x2c"


def text_options(ignore_case=False, start=1):
    """Options byte of fuzz_gbk_text: bit 0 ignore case, bits 1-7 start position + 2."""
    return bytes([((start + 2) << 1) | int(ignore_case)])


def marker_options(ignore_case=False, start=1, reverse=False):
    """Options byte of fuzz_marker: bit 0 ignore case, bit 1 reverse look-ups, bits 2-7 start + 2."""
    return bytes([((start + 2) << 2) | (int(reverse) << 1) | int(ignore_case)])


SEEDS = {
    "fuzz_gbk_text": {
        "folder": text_options() + gbk("C:\\Program Files\\逍遥\\") + BACKSLASH_TRAIL + b"\\MEmu.exe\0\\\0/",
        "trail-backslash": text_options() + b"a" + BACKSLASH_TRAIL + b"\\b\0\\\0" + gbk("测试"),
        "trail-comma": text_options(start=2) + b"1," + COMMA_TRAIL + b",3,\r\n\0,\0;;",
        "trim": text_options() + b"  \xa1\xa1" + gbk("模拟器") + b" \xa1\xa1 \xa1\0\xa1\xa1\0",
        "full-width-number": text_options(ignore_case=True) + b"\xa1\xa1-\xa3\xb1\xa3\xb2\xa3\xb3x\0MEMU\0memu",
        "overflow": text_options(start=5) + b"99999999999999999999\0" + b"-9223372036854775808\0",
        "lines": text_options() + b"a\r\nb\n\rc\r\n\r\n\0\r\n\0|",
    },
    "fuzz_list_reply": {
        "crlf": b"0,MEmu,132524,1,8812\r\n1,MEmu_1,0,0,0\r\n",
        "lf-only": b"0,MEmu,132524,1,8812\n1,MEmu_1,0,0,0\n",
        "comma-in-title": b"0,MEmu,0,0,0\r\n1,Game, Two,2,1,77\r\n2,x,3,1,0,extra,\r\n",
        "gbk-titles": b"1," + gbk("逍遥") + COMMA_TRAIL + b",65540,1,4120\r\n2," + BACKSLASH_TRAIL
        + b"\xb0\r,0,0,0\r\n3,\xa3\xb1,\xa3\xb5,\xa3\xb0,\xa3\xb9",
        "odd-fields": b",,,,\r\n\r\n-1,a,-5,0,0\r\n7,b,99999999999,on,-3\r\n,\r\n",
    },
    "fuzz_marker": {
        "headless": marker_options() + b'"C:\\Program Files\\Microvirt\\MEmuHyperv\\MEmuHeadless.exe" --comment MEmu_12 --startvm 7f3c\0MEmu_\0 --\0'
        + b"\x00--comment MEmu --startvm a\n\x00--comment MEmu_3 --startvm b\n\x01--comment MEmu_4 --x\n\x00MEmu_\xa3\xb5 --",
        "quotes": marker_options() + b'say "hello" twice\0' + QUOTE + b"\0" + QUOTE + b"\0\x02MEmu_1 --",
        "gbk-marker": marker_options(ignore_case=True, start=3, reverse=True) + gbk("逍遥")
        + BACKSLASH_TRAIL + b"\\mEMU_9 --\0memu_\0" + b"\\\0\x00MEmu_9 --\n\x00MEmu_9 --",
        "no-end": marker_options() + b"MEmu_5\0MEmu_\0 --\0\x00MEmu_5\n\x00",
    },
    "fuzz_command_line": {},
    "fuzz_farm_args": {
        "clone": b"--json\0clone\0--master\0002\0--count=20\0--first\0121\0--console\0007.2.1",
        "texts": b"text\0" b"1\0a&echo \"x\"^(%PATH%)|<>!" + BACKSLASH_TRAIL,
        "adb": b"adb\0" b"3\0shell\0ls -l\0--\0\"a b\\\"\0" + gbk("中文"),
        "paths": b"--deadline=0.5\0screenshot\0" b"2\0My Shots\\" + gbk("截图") + b".png",
        "bad": b"tap\0" b"1\0-5\0" b"99999999999\0--wait\0--\0--json",
        "install": b"install\0" b"4\0-p\0com.example\0--install-dir\0D:\\Emu",
        "sets": b"start\0" b"3,5,101-110\0--parallel\0" b"4\0--stagger\0" b"2.5\0--boot",
        "config": b"setconfig\0running\0cpus\0" b"4 -i 3\0--json",
        "rename": b"rename\0" b"1-2\0end\\\0--deadline\0" b"3",
    },
    "fuzz_adb_reply": {
        "okay": b"\x00OKAY",
        "okay-then-output": b"\x02OKAYOKAY1\r\n",
        "version": b"\x01OKAY00040029",
        "devices": b"\x07OKAY001e127.0.0.1:21503\tdevice\n",
        "fail": b"\x00FAIL000edevice offline",
        "fail-upper-hex": b"\x03FAIL000Adevice '1'x",
        "bad-length": b"\x00FAIL00g1",
        "cut-off": b"\x01OKAY0010short",
    },
    "fuzz_quoting": {
        "quotes": b'say "hi" \\"x\\\\',
        "device": b"it's a b&c|d%PATH%!x'y\"z",
        "gbk-trail": b"a " + BACKSLASH_TRAIL + b'"' + BACKSLASH_TRAIL,
        "empty": b"",
    },
}


def command_line_image() -> bytes:
    """Basic information, PEB and parameters laid out in one image mapped at 0x10000."""
    base = 0x10000
    image = bytearray(512)
    peb, params, text = 64, 128, 320
    line = "MEmuHeadless.exe --comment MEmu_3 --startvm".encode("utf-16-le")
    image[8:16] = (base + peb).to_bytes(8, "little")
    image[peb + 32:peb + 40] = (base + params - 96).to_bytes(8, "little")
    image[params + 16:params + 18] = len(line).to_bytes(2, "little")
    image[params + 24:params + 32] = (base + text).to_bytes(8, "little")
    image[text:text + len(line)] = line
    return bytes(image[: text + len(line)])


def main() -> None:
    image = command_line_image()
    SEEDS["fuzz_command_line"]["headless"] = image
    odd = bytearray(image)
    odd[128 + 16] = 7  # odd byte count
    SEEDS["fuzz_command_line"]["odd-length"] = bytes(odd)
    for target, seeds in SEEDS.items():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
