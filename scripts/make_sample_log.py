#!/usr/bin/env python3
"""Writes samples/sample.log: a small behaviour log as the monitor writes it (GBK, CR LF lines).

A sandboxed run of a dropper: explorer starts setup.exe, which writes and starts a payload that
injects into a system process, loads a driver and talks to the network; a watchdog ends.
Every tag appears; the [PRO] lines use all three layouts and both path forms.
"""
import pathlib

V = "\\Device\\HarddiskVolume2"  # C: in the demo drive table
lines = [
    # Roots: the creators of these are not in the log.
    f"[PRO]|2024-03-05 09:12:00|0|0|1/1204/{V}\\Windows\\explorer.exe/C:\\Windows\\Explorer.EXE/4823552/5E8F1A2B/0f6e1ea3c2b1f9d8a7e6d5c4b3a29180|system",
    f"[PRO]|2024-03-05 09:12:00|0|0|2/688/{V}\\Windows\\System32\\svchost.exe/C:\\Windows\\system32\\svchost.exe -k netsvcs/51712/4A5B6C7D/a1b2c3d4e5f60718293a4b5c6d7e8f90/9F3C0E11AA77/330000015F2E/Microsoft Windows//|report",
    # explorer starts the dropper (medium layout, one signature).
    f"[PRO]|2024-03-05 09:12:03|0|1|3/3312/{V}\\Users\\分析员\\Desktop\\安装程序.exe/\"C:\\Users\\分析员\\Desktop\\安装程序.exe\" -S/1289216/65E6F0A1/5d41402abc4b2a76b9719d911017c592/7C2D9E04B1/0A1B2C3D/某某网络科技有限公司//|report",
    "[PRO_OPEN]|2024-03-05 09:12:03|0|3|C:\\Windows\\explorer.exe(1204)|system",
    "[FILE_READ]|2024-03-05 09:12:04|0|3|C:\\Users\\分析员\\Desktop\\安装程序.exe|system",
    "[FILE_NEW]|2024-03-05 09:12:04|0|3|C:\\Users\\分析员\\AppData\\Local\\Temp\\svc升级.exe|隔离",
    "[FILE_WRITE]|2024-03-05 09:12:04|0|3|C:\\Users\\分析员\\AppData\\Local\\Temp\\svc升级.exe|隔离",
    "[REG_OPEN]|2024-03-05 09:12:05|0|3|HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run|system",
    "[REG_WRITE]|2024-03-05 09:12:05|0|3|HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\更新服务=C:\\Users\\分析员\\AppData\\Local\\Temp\\svc升级.exe|阻止",
    f"[MOD]|2024-03-05 09:12:05|0|3|{V}\\Users\\分析员\\Desktop\\helper.dll/98304/0/e99a18c428cb38d5f260853678922e03|report",
    "[MOD]|2024-03-05 09:12:05|0|3|C:\\Windows\\System32\\kernel32.dll/734040/0/3C1E4D2B/6E0F3A9B7C/330000023241/Microsoft Windows/7A9C/Microsoft Windows Publisher|system",
    # The dropper starts the payload (long layout, both signatures, all checks passed).
    f"[PRO]|2024-03-05 09:12:06|0|3|4/4520/\\??\\C:\\Users\\分析员\\AppData\\Local\\Temp\\svc升级.exe/svc升级.exe --install/204800/65E6F0B2/098f6bcd4621d373cade4e832627b4f6/AB12CD34EF/11AA22BB/深圳某某软件有限公司/33CC44DD/Example Code Signing CA/1/1/1/1/1/0|阻止",
    "[REG_NEW]|2024-03-05 09:12:06|0|4|HKLM\\SYSTEM\\CurrentControlSet\\Services\\svcupd|阻止",
    "[REG_READ]|2024-03-05 09:12:06|0|4|HKLM\\SOFTWARE\\Microsoft\\Cryptography\\MachineGuid|system",
    "[NET_DNS]|2024-03-05 09:12:07|0|4|update.example.com -> 203.0.113.7|report",
    "[NET_CON]|2024-03-05 09:12:07|0|4|TCP 10.0.2.15:49233 -> 203.0.113.7:443|report",
    "[NET_DATA]|2024-03-05 09:12:08|0|4|发送 512 字节 -> 203.0.113.7:443|report",
    "[NET_URL]|2024-03-05 09:12:08|0|4|http://update.example.com/cfg.dat|report",
    "[NET_HTTP]|2024-03-05 09:12:08|0|4|GET /cfg.dat HTTP/1.1 Host: update.example.com|report",
    f"[SYS]|2024-03-05 09:12:09|0|4|{V}\\Windows\\System32\\drivers\\svcflt.sys/40960/0/7B3E/88EE99FF/6A1F30/某某网络科技有限公司/55AA/备用签名公司/0/1/1/0/0/0|阻止",
    "[RTHREAD]|2024-03-05 09:12:09|0|4|目标进程 svchost.exe(688) 地址 0x7FF6A0010000|阻止",
    "[FILE_DEL]|2024-03-05 09:12:10|0|3|C:\\Users\\分析员\\Desktop\\安装程序.exe|隔离",
    # The payload starts a watchdog that ends soon (short layout).
    f"[PRO]|2024-03-05 09:12:10|0|4|5/5012/{V}\\Windows\\System32\\cmd.exe/cmd.exe /c ping -n 3 127.0.0.1 > nul/289792/4B7C8D9E/8277e0910d750195b448797616e091ad|system",
    "[FILE_READ]|2024-03-05 09:12:11|0|5|C:\\Windows\\System32\\ping.exe|system",
    "[PRO_DIE]|2024-03-05 09:12:14|0|5|exit code 0|system",
    "[PRO_DIE]|2024-03-05 09:12:20|0|3|exit code 0|system",
    # Lines the viewer drops: unknown tag, a behaviour of a process not in the log, wrong fields.
    "[UNKNOWN]|2024-03-05 09:12:21|0|4|x|system",
    "[FILE_READ]|2024-03-05 09:12:21|0|99|C:\\nowhere.txt|system",
    "[FILE_READ]|2024-03-05 09:12:21|0|4|C:\\a.txt",
    "[REG_OPEN]|2024-03-05 09:12:22|0|2|HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip|system",
]
out = pathlib.Path(__file__).resolve().parent.parent / "samples" / "sample.log"
out.write_bytes(b"".join(l.encode("gbk") + b"\r\n" for l in lines))
print(out)
