#!/usr/bin/env python3
"""Writes db/sample.sql: the sample jingle catalogue of a fictitious station.

Deterministic (fixed seed), so the committed sample.sql is reproduced byte for byte:
    db/make-sample.py > db/sample.sql
"""
import random
import sys

rng = random.Random(1987)

CATEGORIES = [
    "Abertura", "Hora Certa", "Previsão do Tempo", "Efeitos Especiais", "Trilhas de Fundo",
    "Locuções", "Identificação da Emissora", "Manhã", "Tarde", "Noite", "Madrugada",
    "Esporte", "Jornalismo", "Promoções", "Natal", "Carnaval", "Festa Junina", "Sertanejo",
    "Pop e Rock", "Religioso", "Institucional", "Passagem", "100% Música", "Programa_Especial",
    "Utilidade Pública", "Fim de Semana",
]
CAT = {name: i + 1 for i, name in enumerate(CATEGORIES)}

jingles = []  # (tipo, nome, arquivo, segundos, [categories])


def add(tipo, nome, arquivo, segundos, cats):
    assert len(nome) <= 45, nome
    jingles.append((tipo, nome, arquivo, segundos, cats))


# H: hour announcements, every quarter of an hour: 0000.mp3 .. 2345.mp3
for h in range(24):
    period = "Madrugada" if h < 6 else "Manhã" if h < 12 else "Tarde" if h < 18 else "Noite"
    for m in (0, 15, 30, 45):
        nome = f"Hora certa {h:02d}h{m:02d}" if m else f"Hora certa {h:02d} horas"
        add("H", nome, f"{h:02d}{m:02d}.mp3", rng.randint(3, 6), ["Hora Certa", period])

# W: temperature and weather
for t in range(5, 41):
    add("W", f"Temperatura {t} graus", f"TEMP{t:02d}.mp3", rng.randint(3, 5),
        ["Previsão do Tempo", "Utilidade Pública"])
for nome, arq in [
    ("Previsão: céu limpo e sol", "PREV_SOL.mp3"),
    ("Previsão: possibilidade de chuva", "PREV_CHUVA.mp3"),
    ("Previsão: frente fria a caminho", "PREV_FRIO.mp3"),
    ("Previsão: tempo nublado", "PREV_NUBLADO.mp3"),
    ("Previsão: garoa na madrugada", "PREV_GAROA.mp3"),
    ("Previsão: calorão de verão", "PREV_CALOR.mp3"),
    ("Umidade do ar abaixo de 30%", "UMIDADE_30.mp3"),
    ("Alerta de temporal", "ALERTA_TEMPORAL.mp3"),
    ("Boletim do tempo – manhã", "BOLETIM_MANHA.mp3"),
    ("Boletim do tempo – tarde", "BOLETIM_TARDE.mp3"),
]:
    add("W", nome, arq, rng.randint(6, 15), ["Previsão do Tempo", "Jornalismo", "Utilidade Pública"])

# E: sound effects
EFFECTS = [
    "Explosão", "Aplausos da plateia", "Risada", "Sino de igreja", "Buzina de caminhão",
    "Vidro quebrando", "Trovão", "Chuva forte", "Laser", "Passagem rápida (swoosh)",
    "Campainha", "Relógio tique-taque", "Apito de trem", "Gol! Torcida vibrando",
    "Caixa registradora", "Telefone tocando", "Porta rangendo", "Latido de cão",
    "Galo cantando", "Fogos de artifício", "Bumbo de escola de samba", "Sanfona junina",
    "Coração batendo", "Máquina de escrever", "Moeda caindo", "Sirene de ambulância",
    "Pássaros na mata", "Ondas do mar", "Vento no sertão", "Batida eletrônica",
    "Suspense – três notas", "Pingo d'água", "Estalo de dedos", "Zíper", "Cuíca",
    "Berimbau", "Trompete de vitória", "Som de vinil arranhado", "Efeito_reverso",
    "Buzina de bicicleta",
]
for i, nome in enumerate(EFFECTS, 1):
    cats = ["Efeitos Especiais"] + rng.sample(["Esporte", "Carnaval", "Festa Junina", "Passagem",
                                               "Promoções", "Fim de Semana"], rng.randint(1, 2))
    add("E", f"Efeito: {nome}"[:45], f"EFEITO{i:03d}.mp3", rng.randint(1, 8), cats)

# S: beds (trilhas)
BEDS = [
    "Trilha esportiva", "Trilha jornalística", "Trilha suave de piano", "Trilha de suspense",
    "Trilha sertaneja", "Trilha de forró", "Trilha de samba", "Trilha eletrônica",
    "Trilha natalina", "Trilha de carnaval", "Trilha romântica", "Trilha de ação",
    "Trilha MPB acústica", "Trilha de violão", "Trilha orquestral", "Trilha religiosa",
]
for i, nome in enumerate(BEDS, 1):
    for v in (1, 2, 3):
        cats = ["Trilhas de Fundo"] + rng.sample(["Jornalismo", "Esporte", "Sertanejo", "Natal",
                                                  "Carnaval", "Religioso", "Noite", "Manhã"], 2)
        add("S", f"{nome} {v}", f"BG{i:02d}_{v}.mp3", rng.choice([30, 45, 60, 90, 120, 180]), cats)

# L: voice-overs (locuções)
VOICE = [
    "Bom dia, ouvinte!", "Boa tarde, ouvinte!", "Boa noite, ouvinte!", "Você está ouvindo",
    "Não saia daí", "Já já tem mais música", "Agora é hora de notícia", "Participe pelo telefone",
    "Mande sua mensagem", "Siga a rádio nas redes", "Peça a sua música", "Atenção, motorista",
    "Trânsito agora", "Plantão de notícias", "Giro esportivo", "Começa o programa",
    "Encerramento do programa", "Intervalo comercial", "Voltamos com mais sucessos",
    "Sorteio do fim de semana", "Promoção relâmpago", "Aniversariantes do dia",
    "Oração da manhã", "Ave Maria das seis", "Hora do Brasil", "Comunicado à população",
    "Campanha do agasalho", "Vacinação – fique atento", "Achados e perdidos",
    "Recado do coração", "Feliz Natal de toda a equipe", "Ano-novo com a gente",
    "Esquenta de carnaval", "Arraiá da rádio", "O melhor do sertanejo", "Só as antigas",
    "Pé-de-meia: dica de economia", "Olho d'água informa", "Caixa d'Água da cidade",
    "Rock'n'roll na madrugada",
]
for i, nome in enumerate(VOICE, 1):
    cats = ["Locuções"] + rng.sample(["Manhã", "Tarde", "Noite", "Madrugada", "Jornalismo",
                                      "Institucional", "Promoções", "Utilidade Pública"], rng.randint(1, 3))
    add("L", f"Locução: {nome}"[:45], f"LOC{i:03d}.mp3", rng.randint(4, 20), cats)

# V: station identifications and passage jingles
STATION = "Rádio Cobalto FM 98,7"
VIN = [
    f"ID {STATION}", f"ID {STATION} – versão curta", f"ID {STATION} – acústica",
    "A rádio que toca você", "Sua companhia o dia inteiro", "Cobalto: música e informação",
    "100% sucesso", "100% sertanejo", "Promoção 50% OFF no parceiro", "Música_Nova da semana",
    "Bloco_1 abertura", "Bloco_2 abertura", "Bloco_3 abertura", "Top 10 da semana",
    "Parada de sucessos", "Manhã Cobalto", "Tarde animada", "Noite romântica",
    "Madrugada sem fim", "Esporte em ação", "Jornal da Cobalto", "Conexão Cobalto",
    "Cobalto no fim de semana", "Especial de Natal", "Especial de carnaval", "Arraiá Cobalto",
    "Momento de fé", "Sextou com a Cobalto", "Sábado é dia de forró", "Domingão da família",
    "O'Clock especial", "Cê tá ouvindo a Cobalto", "Tá na hora, tá na Cobalto",
    "É pra cantar junto", "Só modão", "Clássicos que não saem de moda",
    "Passagem – manhã", "Passagem – tarde", "Passagem – noite", "Passagem – madrugada",
    "Vinheta de abertura", "Vinheta de encerramento", "Vinheta de intervalo",
    "Vinheta do ouvinte", "Vinheta do aniversário da rádio", "Cobalto 30 anos",
    "Pra você que tá no trânsito", "Pra você que tá em casa", "Pra você que tá no trabalho",
    "Ação solidária Cobalto", "Cobalto na sua cidade", "Ligue já: 0800 da Cobalto",
    "Canal do ouvinte", "A número 1 da região", "Hits do momento", "Flashback Cobalto",
    "Rádio é emoção", "Coração sertanejo", "Ritmo do samba", "Forró pé-de-serra",
]
for i, nome in enumerate(VIN, 1):
    cats = ["Identificação da Emissora"] + rng.sample(
        ["Abertura", "Passagem", "Institucional", "Manhã", "Tarde", "Noite", "Promoções",
         "100% Música", "Programa_Especial", "Sertanejo", "Pop e Rock", "Fim de Semana"],
        rng.randint(1, 3))
    add("V", nome, f"VIN{i:03d}.mp3", rng.randint(3, 15), cats)

# Two jingles nobody categorised yet.
add("V", "Vinheta sem categoria", "VIN_SEM_CATEGORIA.mp3", 7, [])
add("E", "Efeito de teste (sem categoria)", "EFEITO_TESTE.mp3", 2, [])


def sql_text(s):
    return "'" + s.replace("'", "''") + "'"


def tempo(seconds):
    return f"{seconds // 60:02d}:{seconds % 60:02d}"


# Codes are spread by type, and rows are inserted in a shuffled order, so that only the
# query's ORDER BY puts them in code order.
base = {"V": 1000, "H": 2000, "W": 3000, "E": 4000, "S": 5000, "L": 6000}
count = {k: 0 for k in base}
rows = []
for tipo, nome, arq, segundos, cats in jingles:
    count[tipo] += 1
    rows.append((base[tipo] + count[tipo] * 3, tipo, nome, arq, segundos, cats))
rng.shuffle(rows)

out = sys.stdout
out.write("/* Sample jingle catalogue of a fictitious station (generated by db/make-sample.py). */\n\n")
out.write("SET SQL DIALECT 1;\n\n")
for name, code in CAT.items():
    out.write(f"INSERT INTO TB_CategoriaVinhetas (CAV_CODIGO, CAV_NOME) VALUES ({code}, {sql_text(name)});\n")
out.write("\n")
for code, tipo, nome, arq, segundos, cats in rows:
    out.write("INSERT INTO TB_Vinhetas (VIN_CODIGO, VIN_NOME, VIN_TEMPO, VIN_TIPO, VIN_ARQUIVO, VIN_SEGUNDOS) "
              f"VALUES ({code}, {sql_text(nome)}, '{tempo(segundos)}', '{tipo}', {sql_text(arq)}, {segundos});\n")
out.write("\n")
for code, tipo, nome, arq, segundos, cats in rows:
    for c in cats:
        out.write(f"INSERT INTO TB_VinhetaCategorias (VIN_CODIGO, CAV_CODIGO) VALUES ({code}, {CAT[c]});\n")
out.write("\nCOMMIT;\n")
