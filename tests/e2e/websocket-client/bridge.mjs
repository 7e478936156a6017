// A controller for the end-to-end tests: obs-websocket-js connected to the OBS under test. Reads one
// request a line on stdin ({"id", "requestType", "requestData"}) and writes one JSON line per answer
// ({"id", "response"} or {"id", "error"}), per vendor event ({"event"}) and per profile switch
// ({"obsEvent"}).
import OBSWebSocket, { EventSubscription } from 'obs-websocket-js';
import readline from 'node:readline';

const [port, password] = process.argv.slice(2);
const obs = new OBSWebSocket();
const write = (message) => process.stdout.write(JSON.stringify(message) + '\n');

obs.on('VendorEvent', (event) => write({ event }));
// OBS's own events that the tests wait for.
obs.on('CurrentProfileChanged', (eventData) => write({ obsEvent: { eventType: 'CurrentProfileChanged', eventData } }));
// obs-websocket's server starts once OBS has finished loading: try again until it listens.
for (let attempt = 1; ; attempt++) {
	try {
		await obs.connect(`ws://127.0.0.1:${port}`, password, {
			eventSubscriptions: EventSubscription.Vendors | EventSubscription.Config,
		});
		break;
	} catch (error) {
		if (attempt === 100) throw error;
		await new Promise((resolve) => setTimeout(resolve, 200));
	}
}
obs.on('ConnectionClosed', () => process.exit(0));
write({ connected: true });

for await (const line of readline.createInterface({ input: process.stdin })) {
	const { id, requestType, requestData } = JSON.parse(line);
	try {
		write({ id, response: (await obs.call(requestType, requestData)) ?? null });
	} catch (error) {
		write({ id, error: error.message });
	}
}
await obs.disconnect();
