#!/usr/bin/env python3
"""Test subscriber: a persistent MQTT session that writes every message it gets.

    mqtt_count.py PORT OUTFILE     lines "topic<TAB>sha1 of payload<TAB>retain"
    mqtt_count.py PORT --retained TOPIC   prints the retained payload of TOPIC
"""
import hashlib
import sys
import time

try:
    import paho.mqtt.client as mqtt
except ImportError:
    sys.path.append("/usr/lib/python3/dist-packages")
    import paho.mqtt.client as mqtt

port = int(sys.argv[1])

if sys.argv[2] == "--retained":
    got = []
    c = mqtt.Client(client_id="retained-reader", clean_session=True)
    c.on_connect = lambda cl, u, f, rc: cl.subscribe(sys.argv[3], qos=1)
    c.on_message = lambda cl, u, m: got.append(m.payload.decode("utf-8"))
    c.connect("127.0.0.1", port)
    c.loop_start()
    end = time.time() + 5
    while not got and time.time() < end:
        time.sleep(0.05)
    c.loop_stop()
    print(got[0] if got else "")
    sys.exit(0)

out = open(sys.argv[2], "a", buffering=1)


def on_connect(client, userdata, flags, rc):
    client.subscribe("station/#", qos=1)


def on_subscribe(client, userdata, mid, granted):
    print("subscribed", flush=True)


def on_message(client, userdata, m):
    out.write("%s\t%s\t%d\n" % (m.topic, hashlib.sha1(m.payload).hexdigest(), m.retain))


c = mqtt.Client(client_id="counter", clean_session=False)
c.on_connect = on_connect
c.on_subscribe = on_subscribe
c.on_message = on_message
c.reconnect_delay_set(1, 1)
while True:
    try:
        c.connect("127.0.0.1", port)
        break
    except OSError:
        time.sleep(0.2)
c.loop_forever(retry_first_connection=True)
