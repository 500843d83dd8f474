"""Times a click on Send until the request reaches the receiver: listens on a port of this machine,
clicks the button with xdotool and waits for the request head. Prints milliseconds.
    receiver.py PORT WINDOW X Y"""
import socket
import subprocess
import sys
import time

port, window, x, y = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
server = socket.create_server(("127.0.0.1", int(port)))
server.settimeout(10)
subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
click = time.monotonic()
subprocess.Popen(["xdotool", "mousemove", "--window", window, x, y, "click", "1"])
connection, _ = server.accept()
head = b""
while b"\r\n\r\n" not in head:
    head += connection.recv(65536)
arrived = time.monotonic()
connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n+ok\n")
connection.close()
print(f"{(arrived - click) * 1000:.2f}")
